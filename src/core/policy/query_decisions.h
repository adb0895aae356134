// A policy's rule for one query, from per-query data (a confidence and the
// top candidate's group label): which threshold applies and whether the
// query is accepted. apply_policy decides by the same rule.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace ferolin::policy {

// Returns the threshold `policy` applies to a query whose top candidate has
// `group`: the group's own when the policy's map is present, not empty and
// holds the label (exact bytes), else the policy's threshold.
[[nodiscard]] double threshold_for(std::optional<std::string_view> group, const PolicyFile& policy);

// Returns whether a query of `confidence` passes `threshold`: the
// confidence is finite and at least the threshold (NaN passes nothing).
[[nodiscard]] bool passes_threshold(double confidence, double threshold);

struct QueryDecision {
  double threshold = 0.0;  // as threshold_for gives it
  bool accepted = false;
};

// Returns one decision per query of `confidences` (absent counts as NaN, so
// rejected), in order, by the rule above; the decision apply_policy gives a
// query with that confidence and top candidate's group. `groups` holds one
// label a query, or nothing when there is no group column (a query past
// its end has no group).
[[nodiscard]] std::vector<QueryDecision> decide_queries(
    std::span<const std::optional<double>> confidences,
    std::span<const std::optional<std::string>> groups, const PolicyFile& policy);

}  // namespace ferolin::policy
