// The entropy method: one minus the normalised entropy of a query's probabilities.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring::entropy {

// Returns 1 - H / ln(n) over the n candidates' probabilities; 1.0 for a
// single candidate whatever its probability; absent for an empty query, a
// missing probability, or a result that is not finite.
[[nodiscard]] std::optional<double> score(const QuerySummary& summary);

}  // namespace ferolin::scoring::entropy
