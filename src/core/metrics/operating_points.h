// Operating points of a risk-coverage curve: the risk at a chosen coverage
// and the coverage at a chosen risk, the figures selective-prediction
// comparisons report beside the areas.
#pragma once

#include <optional>
#include <span>

#include "core/types.h"

namespace ferolin::metrics {

// Returns the risk of the last row (in list order) whose coverage does not
// exceed `coverage`; absent where no row does or that row has no risk.
[[nodiscard]] std::optional<double> risk_at_coverage(std::span<const RiskCoverageRow> curve,
                                                     double coverage);

// Returns the largest coverage of a row whose risk is present and at most
// `target`; absent where no row qualifies (a NaN target included).
[[nodiscard]] std::optional<double> coverage_at_risk(std::span<const RiskCoverageRow> curve,
                                                     double target);

}  // namespace ferolin::metrics
