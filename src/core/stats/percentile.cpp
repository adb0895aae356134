#include "core/stats/percentile.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/total_order.h"

namespace ferolin::stats {
namespace {

// 1 - level, in thousandths, and twice the 1000 of the per-mille scale.
std::uint64_t outside_per_mille(const IntervalLevel& level) { return 1000 - level.per_mille; }
constexpr std::uint64_t kTwoThousand = 2000;

}  // namespace

std::uint64_t lower_rank(std::uint64_t m, const IntervalLevel& level) {
  // (m + 1) * outside / 2000, taken apart so that no product overflows 64
  // bits: a 128-bit quotient would need the compiler's runtime library.
  const std::uint64_t count = m + 1;
  const std::uint64_t outside = outside_per_mille(level);
  return count / kTwoThousand * outside + count % kTwoThousand * outside / kTwoThousand;
}

std::uint64_t min_values_for(const IntervalLevel& level) {
  const std::uint64_t outside = outside_per_mille(level);
  return (kTwoThousand + outside - 1) / outside - 1;
}

PercentileInterval percentile_interval(std::vector<double> values, const IntervalLevel& level) {
  const auto nan_end =
      std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); });
  PercentileInterval result;
  result.nan_values = static_cast<std::uint64_t>(values.end() - nan_end);
  values.erase(nan_end, values.end());
  const std::uint64_t m = values.size();
  const std::uint64_t k = lower_rank(m, level);
  if (k == 0) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    result.interval = {kNaN, kNaN};
    return result;
  }
  // Sorting whole values gives the same sequence whatever the algorithm, so
  // the interval is the same on every standard library.
  std::sort(values.begin(), values.end(),
            [](double a, double b) { return total_order_key(a) < total_order_key(b); });
  result.interval = {values[k - 1], values[m - k]};
  return result;
}

}  // namespace ferolin::stats
