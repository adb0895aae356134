#include "core/calibration/empirical.h"

#include "core/calibration/widest_row.h"

namespace ferolin::calibration::empirical {

std::optional<double> calibrate(std::span<const RiskCoverageRow> curve, double target) {
  return widest_passing_threshold(
      curve, [target](const RiskCoverageRow& row) { return row.risk && *row.risk <= target; });
}

}  // namespace ferolin::calibration::empirical
