#include "core/score_names.h"

#include <array>

namespace ferolin {
namespace {

// "top_k_gap" is deliberately absent: the only underscore spelling of that
// method in a `score` argument is "topk_gap" (policy files use "top_k_gap").
constexpr std::array<ScoreName, 14> kScoreNames = {{
    {"max-prob", ScoringMethod::MaxProb},
    {"max_prob", ScoringMethod::MaxProb},
    {"score-gap", ScoringMethod::ScoreGap},
    {"score_gap", ScoringMethod::ScoreGap},
    {"margin", ScoringMethod::Margin},
    {"entropy", ScoringMethod::Entropy},
    {"score-ratio", ScoringMethod::ScoreRatio},
    {"score_ratio", ScoringMethod::ScoreRatio},
    {"topk-gap", ScoringMethod::TopKGap},
    {"topk_gap", ScoringMethod::TopKGap},
    {"effective-k", ScoringMethod::EffectiveK},
    {"effective_k", ScoringMethod::EffectiveK},
    {"candidate-count", ScoringMethod::CandidateCount},
    {"candidate_count", ScoringMethod::CandidateCount},
}};

}  // namespace

std::span<const ScoreName> score_names() { return kScoreNames; }

std::optional<ScoringMethod> scoring_method_from_score_name(std::string_view name) {
  for (const ScoreName& entry : kScoreNames) {
    if (entry.name == name) return entry.method;
  }
  return std::nullopt;
}

std::string_view score_name(ScoringMethod method) {
  // The first spelling of each method is its hyphen spelling.
  for (const ScoreName& entry : kScoreNames) {
    if (entry.method == method) return entry.name;
  }
  return {};
}

std::string unknown_score_name(std::string_view name) {
  std::string message = "Unknown score method '" + std::string(name) + "'. Valid: ";
  for (int i = 0; i < kScoringMethodCount; ++i) {
    if (i > 0) message += ", ";
    message += score_name(static_cast<ScoringMethod>(i));
  }
  return message;
}

}  // namespace ferolin
