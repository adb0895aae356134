// The confidence levels that two-sided intervals support: each level with
// its per-mille key, which fixes the percentile order statistics in exact
// integer arithmetic, and the normal quantile z of its Wilson score interval.
#pragma once

#include <cstdint>

#include "core/error.h"

namespace ferolin::stats {

// Lower and upper end of an interval; both NaN where it is undefined.
struct Interval {
  double low = 0.0;
  double high = 0.0;
};

struct IntervalLevel {
  double level = 0.0;           // as given, e.g. 0.95
  std::uint32_t per_mille = 0;  // round(1000 * level), e.g. 950
  double z = 0.0;               // the (1 + level) / 2 normal quantile, e.g. 1.96
};

// The level that intervals use unless asked otherwise.
inline constexpr double kDefaultIntervalLevel = 0.95;

// Returns the supported two-sided level that `level` names: 0.80, 0.90,
// 0.95, 0.98 or 0.99, matched by round(1000 * level) as binomial calibration
// matches its levels, with z rounded to three decimals as there (so the upper
// end of a two-sided 0.90 interval is the bound of binomial calibration at
// 0.95). Returns InvalidArgument for any other level.
[[nodiscard]] Result<IntervalLevel> interval_level(double level);

}  // namespace ferolin::stats
