#include "core/stats/bootstrap.h"

#include <string>

#include "core/number_format.h"
#include "core/stats/labelled_cells.h"
#include "core/stats/percentile.h"
#include "core/stats/resample.h"
#include "core/stats/wilson_interval.h"

namespace ferolin::stats {
namespace {

Result<IntervalLevel> check_request(const BootstrapRequest& request) {
  Result<IntervalLevel> level = interval_level(request.level);
  if (!level) return level;
  const std::uint64_t needed = min_values_for(*level);
  if (request.replicates < needed || request.replicates > kMaxReplicates) {
    return std::unexpected(FerolinError::invalid_argument(
        "replicates must be between " + std::to_string(needed) + " and " +
        std::to_string(kMaxReplicates) + " for a " + format_plain_decimal(request.level) +
        " interval, got " + std::to_string(request.replicates)));
  }
  return level;
}

struct Prepared {
  IntervalLevel level;
  LabelledCells cells;
};

Result<Prepared> prepare(std::span<const std::optional<double>> confidences,
                         std::span<const std::optional<bool>> labels,
                         const BootstrapRequest& request) {
  Result<IntervalLevel> level = check_request(request);
  if (!level) return std::unexpected(std::move(level.error()));
  Result<LabelledCells> cells = make_labelled_cells(confidences, labels, request.threshold);
  if (!cells) return std::unexpected(std::move(cells.error()));
  return Prepared{*level, std::move(*cells)};
}

Result<std::vector<ReplicateValues>> run_replicates(const LabelledCells& cells,
                                                    const BootstrapRequest& request) {
  std::vector<ReplicateValues> replicates;
  replicates.reserve(request.replicates);
  std::vector<std::uint32_t> counts(cells.cells());
  for (std::uint64_t r = 0; r < request.replicates; ++r) {
    count_resample(cells, request.seed, r, counts);
    replicates.push_back(evaluate_counts(cells, counts));
    if (request.check) {
      Result<void> go_on = request.check(r + 1);
      if (!go_on) return std::unexpected(std::move(go_on.error()));
    }
  }
  return replicates;
}

MetricInterval summarise(const std::vector<ReplicateValues>& replicates,
                         double ReplicateValues::* figure, double estimate,
                         const IntervalLevel& level) {
  std::vector<double> values;
  values.reserve(replicates.size());
  for (const ReplicateValues& replicate : replicates) values.push_back(replicate.*figure);
  const PercentileInterval percentile = percentile_interval(std::move(values), level);
  return {estimate, percentile.interval, percentile.nan_values};
}

}  // namespace

Result<std::vector<ReplicateValues>> bootstrap_replicates(
    std::span<const std::optional<double>> confidences, std::span<const std::optional<bool>> labels,
    const BootstrapRequest& request) {
  const Result<Prepared> prepared = prepare(confidences, labels, request);
  if (!prepared) return std::unexpected(prepared.error());
  return run_replicates(prepared->cells, request);
}

Result<BootstrapIntervals> bootstrap_intervals(std::span<const std::optional<double>> confidences,
                                               std::span<const std::optional<bool>> labels,
                                               const BootstrapRequest& request) {
  const Result<Prepared> prepared = prepare(confidences, labels, request);
  if (!prepared) return std::unexpected(prepared.error());
  const LabelledCells& cells = prepared->cells;
  const IntervalLevel& level = prepared->level;
  const Result<std::vector<ReplicateValues>> replicates = run_replicates(cells, request);
  if (!replicates) return std::unexpected(replicates.error());

  const ReplicateValues estimate = evaluate_counts(cells, cells.sizes);
  BootstrapIntervals result;
  result.aurc = summarise(*replicates, &ReplicateValues::aurc, estimate.aurc, level);
  result.eaurc = summarise(*replicates, &ReplicateValues::eaurc, estimate.eaurc, level);
  result.augrc = summarise(*replicates, &ReplicateValues::augrc, estimate.augrc, level);
  result.coverage = summarise(*replicates, &ReplicateValues::coverage, estimate.coverage, level);
  result.risk = summarise(*replicates, &ReplicateValues::risk, estimate.risk, level);
  result.risk_wilson = wilson_interval(estimate.accepted, estimate.errors, level);
  result.labelled = cells.total;
  result.accepted = estimate.accepted;
  result.errors = estimate.errors;
  result.replicates = request.replicates;
  result.seed = request.seed;
  result.level = request.level;
  return result;
}

}  // namespace ferolin::stats
