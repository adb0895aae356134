// The max-prob method: the top candidate's probability.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring::max_prob {

// Returns the top candidate's probability exactly as stored, whatever its
// range; absent for an empty query or a probability that is missing or NaN.
[[nodiscard]] std::optional<double> score(const QuerySummary& summary);

}  // namespace ferolin::scoring::max_prob
