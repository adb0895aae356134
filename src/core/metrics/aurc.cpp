#include "core/metrics/aurc.h"

#include <cmath>
#include <limits>

namespace ferolin::metrics {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The trapezoid area of risk_of(row) against coverage, from (0, 0), with
// the rows in list order.
template <typename RiskOf>
double trapezoid_area(std::span<const RiskCoverageRow> curve, RiskOf risk_of) {
  if (curve.empty()) return kNaN;
  double area = 0.0;
  double previous_coverage = 0.0;
  double previous_risk = 0.0;
  for (const RiskCoverageRow& row : curve) {
    const double risk = risk_of(row);
    area += trapezoid_step(previous_risk, risk, previous_coverage, row.coverage);
    previous_coverage = row.coverage;
    previous_risk = risk;
  }
  return area;
}

}  // namespace

double compute_aurc(std::span<const RiskCoverageRow> curve) {
  return trapezoid_area(curve, [](const RiskCoverageRow& row) { return row.risk.value_or(0.0); });
}

double compute_augrc(std::span<const RiskCoverageRow> curve) {
  return trapezoid_area(curve, [](const RiskCoverageRow& row) {
    return static_cast<double>(row.errors) / static_cast<double>(row.total);
  });
}

double compute_eaurc(std::span<const RiskCoverageRow> curve) {
  if (curve.empty()) return kNaN;
  const RiskCoverageRow& last = curve.back();
  return excess_area(compute_aurc(curve), last.accepted, last.errors, last.total);
}

double excess_area(double area, std::uint64_t last_accepted, std::uint64_t last_errors,
                   std::uint64_t total) {
  if (std::isnan(area)) return kNaN;
  if (total == 0 || last_accepted < total) return kNaN;
  const std::uint64_t correct = last_errors > last_accepted ? 0 : last_accepted - last_errors;
  const double accuracy = static_cast<double>(correct) / static_cast<double>(total);
  if (accuracy <= 0.0 || accuracy >= 1.0) return kNaN;
  const double optimal = std::log(accuracy) * accuracy + (1.0 - accuracy);
  return area - optimal;
}

}  // namespace ferolin::metrics
