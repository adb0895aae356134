// The effective-k method: the reciprocal of the effective number of candidates.
#pragma once

#include <optional>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring::effective_k {

// Returns exp(-H) over the probabilities of all candidates; absent for an
// empty query, a missing probability, or a result that is not finite.
[[nodiscard]] std::optional<double> score(const QuerySummary& summary);

}  // namespace ferolin::scoring::effective_k
