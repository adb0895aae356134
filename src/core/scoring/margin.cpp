#include "core/scoring/margin.h"

#include <cmath>

namespace ferolin::scoring::margin {

std::optional<double> score(const QuerySummary& summary) {
  if (summary.count < 2) return std::nullopt;
  // A missing probability is stored as NaN, so one test covers both.
  const double p1 = summary.leading[0].probability;
  const double p2 = summary.leading[1].probability;
  if (std::isnan(p1) || std::isnan(p2)) return std::nullopt;
  return p1 - p2;
}

}  // namespace ferolin::scoring::margin
