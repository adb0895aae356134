// Empirical calibration: the widest threshold whose observed risk meets the
// target.
#pragma once

#include <optional>
#include <span>

#include "core/types.h"

namespace ferolin::calibration::empirical {

// Returns the threshold of the widest row whose risk is present and at most
// `target`; absent when no row qualifies (a NaN target passes nothing).
[[nodiscard]] std::optional<double> calibrate(std::span<const RiskCoverageRow> curve,
                                              double target);

}  // namespace ferolin::calibration::empirical
