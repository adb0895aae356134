// The dispatch of the eight scoring methods: one query's confidence by the
// method chosen. Higher means more trust; a method that cannot score a query
// yields an absent value, never an error.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"
#include "core/types.h"

namespace ferolin::scoring {

// Returns the confidence of the summarised query by `method`: the result of
// that method's own score(), unchanged (absent for an empty query).
[[nodiscard]] std::optional<double> score(const QuerySummary& summary, ScoringMethod method);

}  // namespace ferolin::scoring
