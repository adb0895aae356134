// The topk-gap method: the top score against the mean of up to four runner-up scores.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring::topk_gap {

// Returns s1 minus the mean of the scores at rank positions 2..m, m =
// min(n, 5), infinite or NaN as it comes out; absent with fewer than two
// candidates or a NaN among those m scores.
[[nodiscard]] std::optional<double> score(const QuerySummary& summary);

}  // namespace ferolin::scoring::topk_gap
