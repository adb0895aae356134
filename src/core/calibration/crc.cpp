#include "core/calibration/crc.h"

#include "core/calibration/empirical.h"

namespace ferolin::calibration::crc {

std::optional<double> calibrate(std::span<const RiskCoverageRow> curve, double target) {
  if (curve.empty()) return std::nullopt;
  const double n = static_cast<double>(curve.back().total);
  const double adjusted = target - 1.0 / (n + 1.0);
  if (adjusted <= 0.0) return std::nullopt;
  return empirical::calibrate(curve, adjusted);
}

}  // namespace ferolin::calibration::crc
