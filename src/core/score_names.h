// The spellings of the scoring methods that a `score` argument accepts, in
// one table for every caller (the module, the command line).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/types.h"

namespace ferolin {

struct ScoreName {
  std::string_view name;
  ScoringMethod method;
};

// Returns every accepted spelling: for each method in ordinal order its
// hyphen spelling ("max-prob"), then its underscore spelling where it differs.
[[nodiscard]] std::span<const ScoreName> score_names();

// Returns the method that `name` spells exactly, if any.
[[nodiscard]] std::optional<ScoringMethod> scoring_method_from_score_name(std::string_view name);

// Returns the hyphen spelling of `method` ("max-prob", "topk-gap", ...).
[[nodiscard]] std::string_view score_name(ScoringMethod method);

// Returns "Unknown score method '<name>'. Valid: max-prob, score-gap, ...".
[[nodiscard]] std::string unknown_score_name(std::string_view name);

}  // namespace ferolin
