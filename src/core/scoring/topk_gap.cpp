#include "core/scoring/topk_gap.h"

#include <cmath>

namespace ferolin::scoring::topk_gap {

std::optional<double> score(const QuerySummary& summary) {
  if (summary.count < 2) return std::nullopt;
  const double s1 = summary.leading[0].score;
  if (std::isnan(s1)) return std::nullopt;
  // The leading entries are the first min(n, 5) candidates in rank order.
  const std::size_t m = summary.leading_size;
  // Starting at -0.0 keeps the sign of a sum of negative zeros.
  double sum = -0.0;
  for (std::size_t i = 1; i < m; ++i) {
    const double s = summary.leading[i].score;
    if (std::isnan(s)) return std::nullopt;
    sum += s;
  }
  return s1 - sum / static_cast<double>(m - 1);
}

}  // namespace ferolin::scoring::topk_gap
