#include "core/scoring/dispatch.h"

#include "core/scoring/candidate_count.h"
#include "core/scoring/effective_k.h"
#include "core/scoring/entropy.h"
#include "core/scoring/margin.h"
#include "core/scoring/max_prob.h"
#include "core/scoring/score_gap.h"
#include "core/scoring/score_ratio.h"
#include "core/scoring/topk_gap.h"

namespace ferolin::scoring {

std::optional<double> score(const QuerySummary& summary, ScoringMethod method) {
  switch (method) {
    case ScoringMethod::MaxProb:
      return max_prob::score(summary);
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
      return candidate_count::score(summary);
  }
  return std::nullopt;
}

}  // namespace ferolin::scoring
