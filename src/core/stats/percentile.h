// Percentile intervals: the two order statistics of a sample of bootstrap
// replicate values that enclose the central `level` share of them.
#pragma once

#include <cstdint>
#include <vector>

#include "core/stats/interval_level.h"

namespace ferolin::stats {

struct PercentileInterval {
  Interval interval;
  // Values that were NaN (an undefined replicate, e.g. an E-AURC of a
  // resample without errors); they take no part in the interval.
  std::uint64_t nan_values = 0;
};

// Returns k, the rank (1-based) of the lower end among m values sorted
// ascending: floor((m + 1) * (1 - level) / 2), in exact integer arithmetic
// on the level's per-mille key. The upper end is the (m + 1 - k)-th value.
// For m = 1000 at 0.95: the 25th and the 976th; for m = 999: the 25th and
// the 975th.
[[nodiscard]] std::uint64_t lower_rank(std::uint64_t m, const IntervalLevel& level);

// Returns the smallest m for which lower_rank is at least 1: 39 at 0.95,
// 199 at 0.99.
[[nodiscard]] std::uint64_t min_values_for(const IntervalLevel& level);

// Returns the percentile interval of the values that are not NaN (ordered by
// the IEEE 754 total order, so -0.0 before +0.0): the lower_rank-th and the
// (m + 1 - lower_rank)-th of the m values; NaN at both ends when m is below
// min_values_for(level). Also returns how many values were NaN.
[[nodiscard]] PercentileInterval percentile_interval(std::vector<double> values,
                                                     const IntervalLevel& level);

}  // namespace ferolin::stats
