#include "core/stats/wilson_interval.h"

#include <algorithm>
#include <limits>

#include "core/calibration/binomial.h"

namespace ferolin::stats {

Interval wilson_interval(std::uint64_t accepted, std::uint64_t errors, const IntervalLevel& level) {
  if (accepted == 0) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    return {kNaN, kNaN};
  }
  using calibration::binomial::wilson_lower_bound;
  using calibration::binomial::wilson_upper_bound;
  return {std::max(0.0, wilson_lower_bound(accepted, errors, level.z)),
          std::min(1.0, wilson_upper_bound(accepted, errors, level.z))};
}

Result<Interval> wilson_interval(std::uint64_t accepted, std::uint64_t errors, double level) {
  const Result<IntervalLevel> supported = interval_level(level);
  if (!supported) return std::unexpected(supported.error());
  return wilson_interval(accepted, errors, *supported);
}

}  // namespace ferolin::stats
