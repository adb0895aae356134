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
  // 128 bits, so that no count of values can overflow the product.
  const unsigned __int128 scaled =
      static_cast<unsigned __int128>(m + 1) * outside_per_mille(level) / kTwoThousand;
  return static_cast<std::uint64_t>(scaled);
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
