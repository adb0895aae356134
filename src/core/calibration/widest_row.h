// The choice that every calibration method shares: among the curve's rows
// that pass the method's test, the one with the largest coverage.
#pragma once

#include <optional>
#include <span>

#include "core/total_order.h"
#include "core/types.h"

namespace ferolin::calibration {

// Returns the threshold of the passing row with the largest coverage in the
// IEEE 754 total order, the later row winning a tie; absent when no row
// passes. Rows are read in list order, never re-sorted.
template <typename Passes>
[[nodiscard]] std::optional<double> widest_passing_threshold(std::span<const RiskCoverageRow> curve,
                                                             Passes passes) {
  const RiskCoverageRow* best = nullptr;
  for (const RiskCoverageRow& row : curve) {
    if (!passes(row)) continue;
    if (best == nullptr || total_order_key(row.coverage) >= total_order_key(best->coverage)) {
      best = &row;
    }
  }
  if (best == nullptr) return std::nullopt;
  return best->threshold;
}

}  // namespace ferolin::calibration
