// The candidate-count method: the reciprocal of the number of candidates.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring::candidate_count {

// Returns 1 / n for a query of n candidates, reading no score or
// probability; absent for an empty query.
[[nodiscard]] std::optional<double> score(const QuerySummary& summary);

}  // namespace ferolin::scoring::candidate_count
