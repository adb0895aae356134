#include "core/scoring/max_prob.h"

#include <cmath>

namespace ferolin::scoring::max_prob {

std::optional<double> score(const QuerySummary& summary) {
  if (summary.count == 0) return std::nullopt;
  // A missing probability is stored as NaN, so one test covers both.
  const double p = summary.leading[0].probability;
  if (std::isnan(p)) return std::nullopt;
  return p;
}

}  // namespace ferolin::scoring::max_prob
