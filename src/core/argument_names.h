// The method names that callers give in arguments (the `score` and `method`
// arguments of the module functions and of the command line), and the
// messages for a name that matches none. Policy files and dictionaries use
// the policy names of types.h instead.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/types.h"

namespace ferolin {

struct ScoreArgumentName {
  std::string_view name;
  ScoringMethod method;
};

// Every spelling a `score` argument accepts, matched exactly. "top_k_gap" is
// deliberately absent: the only underscore spelling of that method here is
// "topk_gap".
inline constexpr std::array<ScoreArgumentName, 14> kScoreArgumentNames = {{
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

// Returns the hyphen spelling of `method` ("max-prob", "topk-gap", ...), the
// one that messages and the command line show.
[[nodiscard]] std::string_view argument_name(ScoringMethod method);

// Returns the scoring method that a `score` argument names, if any.
[[nodiscard]] std::optional<ScoringMethod> scoring_method_from_argument(std::string_view name);

// Returns the calibration method that a `method` argument names ("empirical",
// "binomial" or "crc", its policy name), if any.
[[nodiscard]] std::optional<CalibrationMethod> calibration_method_from_argument(
    std::string_view name);

// Returns "Unknown score method '<name>'. Valid: max-prob, ..., candidate-count".
[[nodiscard]] std::string unknown_score_method(std::string_view name);

// Returns "Unknown calibration method '<name>'. Valid: empirical, binomial, crc".
[[nodiscard]] std::string unknown_calibration_method(std::string_view name);

}  // namespace ferolin
