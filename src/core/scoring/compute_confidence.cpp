#include "core/scoring/compute_confidence.h"

#include <cmath>

#include "core/scoring/effective_k.h"
#include "core/scoring/entropy.h"
#include "core/scoring/margin.h"
#include "core/scoring/score_gap.h"
#include "core/scoring/score_ratio.h"
#include "core/scoring/topk_gap.h"

namespace ferolin::scoring {
namespace {

// The top candidate's probability exactly as stored (a missing one is NaN).
std::optional<double> max_prob_score(const QuerySummary& summary) {
  if (summary.count == 0) return std::nullopt;
  const double p = summary.leading[0].probability;
  if (std::isnan(p)) return std::nullopt;
  return p;
}

std::optional<double> candidate_count_score(const QuerySummary& summary) {
  if (summary.count == 0) return std::nullopt;
  return 1.0 / static_cast<double>(summary.count);
}

}  // namespace

std::optional<double> score(const QuerySummary& summary, ScoringMethod method) {
  switch (method) {
    case ScoringMethod::MaxProb:
      return max_prob_score(summary);
    case ScoringMethod::ScoreGap:
      return score_gap::score(summary);
    case ScoringMethod::Margin:
      return margin::score(summary);
    case ScoringMethod::Entropy:
      return entropy::score(summary);
    case ScoringMethod::ScoreRatio:
      return score_ratio::score(summary);
    case ScoringMethod::TopKGap:
      return topk_gap::score(summary);
    case ScoringMethod::EffectiveK:
      return effective_k::score(summary);
    case ScoringMethod::CandidateCount:
      return candidate_count_score(summary);
  }
  return std::nullopt;
}

std::optional<double> compute_confidence(const QueryRanking& query, ScoringMethod method) {
  return score(summarize(query), method);
}

}  // namespace ferolin::scoring
