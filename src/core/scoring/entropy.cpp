#include "core/scoring/entropy.h"

#include <cmath>

#include "core/scoring/score_helpers.h"

namespace ferolin::scoring::entropy {

std::optional<double> score(const QuerySummary& summary) {
  if (summary.count == 0) return std::nullopt;
  // A single candidate is certain: ln(1) = 0 would divide by zero.
  if (summary.count == 1) return 1.0;
  if (summary.probability_missing) return std::nullopt;
  const double n = static_cast<double>(summary.count);
  return finite_or_absent(1.0 - summary.entropy_sum / std::log(n));
}

}  // namespace ferolin::scoring::entropy
