// compute_curve: the risk-coverage curve of labelled queries, one row per
// distinct confidence, from the highest threshold down.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/scoring/query_summaries.h"
#include "core/types.h"

namespace ferolin::metrics {

// Returns the curve of the summarised queries whose top candidate carries a
// label, scored by `method` (the summaries must keep what it reads): rows
// in strictly descending threshold, `total` the number of labelled queries.
// A query whose confidence is absent or NaN counts in `total` but is never
// accepted. Queries without candidates are skipped. The order of the
// queries does not matter.
[[nodiscard]] std::vector<RiskCoverageRow> compute_curve(const scoring::QuerySummaries& summaries,
                                                         ScoringMethod method);

// Returns the same curve from each query's confidence and top candidate's
// label (`confidences` and `labels` of equal length, one entry a query);
// queries without a label are left out.
[[nodiscard]] std::vector<RiskCoverageRow> compute_curve(
    std::span<const std::optional<double>> confidences,
    std::span<const std::optional<bool>> labels);

// Returns the same curve from labelled queries alone: each one's confidence
// (NaN where none) and whether its top candidate is correct (1) or not (0).
[[nodiscard]] std::vector<RiskCoverageRow> compute_curve(std::span<const double> confidences,
                                                         std::span<const std::uint8_t> correct);

}  // namespace ferolin::metrics
