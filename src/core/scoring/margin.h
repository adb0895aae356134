// The margin method: how far the top candidate's probability stands above the runner-up's.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring::margin {

// Returns p1 - p2 of the first two candidates in rank order; absent with
// fewer than two candidates or when either probability is missing or NaN.
[[nodiscard]] std::optional<double> score(const QuerySummary& summary);

}  // namespace ferolin::scoring::margin
