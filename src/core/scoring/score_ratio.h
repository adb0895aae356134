// The score-ratio method: the top candidate's score over the runner-up's.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring::score_ratio {

// Returns s1 / s2 of the first two candidates in rank order; absent with
// fewer than two candidates, a NaN score, s2 <= 0, or a ratio that is not
// finite.
[[nodiscard]] std::optional<double> score(const QuerySummary& summary);

}  // namespace ferolin::scoring::score_ratio
