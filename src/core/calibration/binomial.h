// Binomial calibration: the widest threshold whose Wilson score upper bound
// on the error rate meets the target at a chosen confidence level.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/error.h"
#include "core/types.h"

namespace ferolin::calibration::binomial {

// Returns round(1000 * level), halves away from zero, saturated into an
// unsigned 32-bit integer: NaN and negative levels give 0.
[[nodiscard]] std::uint32_t level_key(double level);

// Returns the normal quantile z of a supported level (keys 900, 950, 975 and
// 990), or absent for any other level.
[[nodiscard]] std::optional<double> z_value(double level);

// Returns the upper end of the Wilson score interval for `errors` out of
// `accepted` (> 0) trials at quantile `z`.
[[nodiscard]] double wilson_upper_bound(std::uint64_t accepted, std::uint64_t errors, double z);

// Returns the lower end of the same interval, computed from the same terms;
// it may fall a rounding error below 0 when `errors` is 0.
[[nodiscard]] double wilson_lower_bound(std::uint64_t accepted, std::uint64_t errors, double z);

// Returns the threshold of the widest row with `accepted` > 0 whose Wilson
// upper bound is at most `target`, or absent when none qualifies. Returns
// the unsupported-confidence-level error, before reading the curve, when
// `level` is not supported.
[[nodiscard]] Result<std::optional<double>> calibrate(std::span<const RiskCoverageRow> curve,
                                                      double target, double level);

}  // namespace ferolin::calibration::binomial
