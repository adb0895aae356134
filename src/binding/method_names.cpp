#include "binding/method_names.h"

#include <array>
#include <string>
#include <utility>

#include "binding/errors.h"

namespace ferolin::binding {
namespace {

// Names accepted in a `score` argument. "top_k_gap" is deliberately absent:
// the only underscore spelling of that method here is "topk_gap".
constexpr std::array<std::pair<std::string_view, ScoringMethod>, 14> kScoreNames = {{
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

std::optional<ScoringMethod> parse_score(std::string_view name) {
  for (const auto& [accepted, method] : kScoreNames) {
    if (accepted == name) return method;
  }
  raise_value_error("Unknown score method '" + std::string(name) +
                    "'. Valid: max-prob, score-gap, margin, entropy, score-ratio, topk-gap, "
                    "effective-k, candidate-count");
  return std::nullopt;
}

std::optional<CalibrationMethod> parse_calibration_method(std::string_view name) {
  if (std::optional<CalibrationMethod> method = calibration_method_from_policy_name(name)) {
    return method;
  }
  raise_value_error("Unknown calibration method '" + std::string(name) +
                    "'. Valid: empirical, binomial, crc");
  return std::nullopt;
}

}  // namespace ferolin::binding
