// The score-gap method: how far the top candidate's score stands above the runner-up's.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring::score_gap {

// Returns s1 - s2 of the first two candidates in rank order, infinite or
// NaN as it comes out; absent with fewer than two candidates or a NaN score.
[[nodiscard]] std::optional<double> score(const QuerySummary& summary);

}  // namespace ferolin::scoring::score_gap
