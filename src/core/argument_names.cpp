#include "core/argument_names.h"

namespace ferolin {

std::string_view argument_name(ScoringMethod method) {
  // The first spelling of each method in the table is its hyphen spelling.
  for (const auto& [name, named] : kScoreArgumentNames) {
    if (named == method) return name;
  }
  return {};
}

std::optional<ScoringMethod> scoring_method_from_argument(std::string_view name) {
  for (const auto& [accepted, method] : kScoreArgumentNames) {
    if (accepted == name) return method;
  }
  return std::nullopt;
}

std::optional<CalibrationMethod> calibration_method_from_argument(std::string_view name) {
  return calibration_method_from_policy_name(name);
}

std::string unknown_score_method(std::string_view name) {
  return "Unknown score method '" + std::string(name) +
         "'. Valid: max-prob, score-gap, margin, entropy, score-ratio, topk-gap, effective-k, "
         "candidate-count";
}

std::string unknown_calibration_method(std::string_view name) {
  return "Unknown calibration method '" + std::string(name) + "'. Valid: empirical, binomial, crc";
}

}  // namespace ferolin
