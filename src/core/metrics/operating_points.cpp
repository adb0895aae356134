#include "core/metrics/operating_points.h"

#include "core/total_order.h"

namespace ferolin::metrics {

std::optional<double> risk_at_coverage(std::span<const RiskCoverageRow> curve, double coverage) {
  const RiskCoverageRow* last = nullptr;
  for (const RiskCoverageRow& row : curve) {
    if (row.coverage <= coverage) last = &row;
  }
  if (last == nullptr) return std::nullopt;
  return last->risk;
}

std::optional<double> coverage_at_risk(std::span<const RiskCoverageRow> curve, double target) {
  std::optional<double> best;
  for (const RiskCoverageRow& row : curve) {
    if (!row.risk || !(*row.risk <= target)) continue;
    // The total order keeps the choice well defined on hand-made curves
    // whose coverages are not increasing.
    if (!best || total_order_key(row.coverage) >= total_order_key(*best)) best = row.coverage;
  }
  return best;
}

}  // namespace ferolin::metrics
