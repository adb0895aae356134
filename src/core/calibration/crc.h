// Conformal risk control: empirical calibration against a target lowered by
// 1 / (n + 1) for n labelled queries.
#pragma once

#include <optional>
#include <span>

#include "core/types.h"

namespace ferolin::calibration::crc {

// Returns the threshold of the widest row whose risk is present and at most
// target - 1 / (n + 1), n the last row's `total`; absent for an empty curve,
// an adjusted target that is not positive, or when no row qualifies.
[[nodiscard]] std::optional<double> calibrate(std::span<const RiskCoverageRow> curve,
                                              double target);

}  // namespace ferolin::calibration::crc
