// The two-sided Wilson score interval of an error rate: how far to trust the
// risk observed among the queries a threshold accepts.
#pragma once

#include <cstdint>

#include "core/error.h"
#include "core/stats/interval_level.h"

namespace ferolin::stats {

// Returns the Wilson score interval for `errors` out of `accepted` at `level`,
// its ends clamped to [0, 1] (the lower end can fall a rounding error below 0
// when there are no errors); its upper end is bit for bit the bound that
// binomial calibration computes with the same z. Both ends are NaN when
// `accepted` is 0.
[[nodiscard]] Interval wilson_interval(std::uint64_t accepted, std::uint64_t errors,
                                       const IntervalLevel& level);

// Returns the same at the level that `level` names, or InvalidArgument for
// an unsupported level (see interval_level).
[[nodiscard]] Result<Interval> wilson_interval(std::uint64_t accepted, std::uint64_t errors,
                                               double level);

}  // namespace ferolin::stats
