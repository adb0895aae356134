#include "core/types.h"

#include <array>

namespace ferolin {
namespace {

constexpr std::array<std::string_view, kScoringMethodCount> kScoringDisplayNames = {
    "MaxProb",    "ScoreGap", "Margin",     "Entropy",
    "ScoreRatio", "TopKGap",  "EffectiveK", "CandidateCount"};
constexpr std::array<std::string_view, kScoringMethodCount> kScoringPolicyNames = {
    "max_prob",    "score_gap", "margin",      "entropy",
    "score_ratio", "top_k_gap", "effective_k", "candidate_count"};
constexpr std::array<std::string_view, kCalibrationMethodCount> kCalibrationPolicyNames = {
    "empirical", "binomial", "crc"};

template <std::size_t N>
std::string backquoted_list(const std::array<std::string_view, N>& names) {
  std::string out = "one of ";
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) out += ", ";
    out += '`';
    out += names[i];
    out += '`';
  }
  return out;
}

}  // namespace

std::string_view display_name(ScoringMethod method) {
  return kScoringDisplayNames[static_cast<std::size_t>(method)];
}

std::string_view policy_name(ScoringMethod method) {
  return kScoringPolicyNames[static_cast<std::size_t>(method)];
}

std::string_view policy_name(CalibrationMethod method) {
  return kCalibrationPolicyNames[static_cast<std::size_t>(method)];
}

std::optional<ScoringMethod> scoring_method_from_policy_name(std::string_view name) {
  for (std::size_t i = 0; i < kScoringPolicyNames.size(); ++i) {
    if (kScoringPolicyNames[i] == name) return static_cast<ScoringMethod>(i);
  }
  return std::nullopt;
}

std::optional<CalibrationMethod> calibration_method_from_policy_name(std::string_view name) {
  for (std::size_t i = 0; i < kCalibrationPolicyNames.size(); ++i) {
    if (kCalibrationPolicyNames[i] == name) return static_cast<CalibrationMethod>(i);
  }
  return std::nullopt;
}

std::string scoring_policy_names_list() { return backquoted_list(kScoringPolicyNames); }
std::string calibration_policy_names_list() { return backquoted_list(kCalibrationPolicyNames); }

std::string unknown_scoring_variant(std::string_view spelling) {
  return "unknown variant `" + std::string(spelling) + "`, expected " + scoring_policy_names_list();
}

std::string unknown_calibration_variant(std::string_view spelling) {
  return "unknown variant `" + std::string(spelling) + "`, expected " +
         calibration_policy_names_list();
}

}  // namespace ferolin
