// Percentile-bootstrap intervals for the figures of a risk-coverage curve
// and of a calibrated threshold: how far to trust AURC, E-AURC, AUGRC and
// the coverage and risk that the threshold gives, from per-query data.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/error.h"
#include "core/stats/interval_level.h"
#include "core/stats/weighted_walk.h"

namespace ferolin::stats {

inline constexpr std::uint64_t kDefaultReplicates = 1000;
// More replicates than this are refused: the values are kept in memory, and
// no percentile interval needs them.
inline constexpr std::uint64_t kMaxReplicates = 1000000;

struct BootstrapRequest {
  // The calibrated threshold; held fixed while the resampled queries are
  // counted against it.
  double threshold = 0.0;
  std::uint64_t replicates = kDefaultReplicates;
  std::uint64_t seed = 0;
  // Two-sided level of every interval (see interval_level).
  double level = kDefaultIntervalLevel;
  // Called after each replicate with the number done; an error it returns
  // stops the bootstrap with that error (progress display, Ctrl-C). Empty:
  // never called.
  std::function<Result<void>(std::uint64_t done)> check = nullptr;
};

// One figure: its value on the data as given, and its percentile interval
// over the replicates that are not NaN.
struct MetricInterval {
  double estimate = 0.0;
  Interval interval;
  std::uint64_t nan_replicates = 0;
};

struct BootstrapIntervals {
  MetricInterval aurc;
  MetricInterval eaurc;
  MetricInterval augrc;
  MetricInterval coverage;  // at the threshold
  MetricInterval risk;      // at the threshold
  // The Wilson score interval of the risk at the threshold, from the counts
  // below.
  Interval risk_wilson;
  std::uint64_t labelled = 0;  // n: the labelled queries resampled
  std::uint64_t accepted = 0;  // at the threshold, on the data as given
  std::uint64_t errors = 0;    // among those
  std::uint64_t replicates = 0;
  std::uint64_t seed = 0;
  double level = 0.0;
};

// Returns the values of replicates 0 to B - 1 of the queries that carry a
// label (`confidences` and `labels` one entry a query, as compute_curve
// takes them). Replicate r resamples by resample_positions(n, seed, r); each
// of its values equals, to the last bit, what compute_curve and
// compute_aurc, compute_eaurc, compute_augrc give on the resampled data, and
// its coverage and risk what deciding each resampled query against the
// threshold gives. Returns InvalidArgument for an unsupported level, fewer
// replicates than the level needs (min_values_for: 39 at 0.95) or more than
// kMaxReplicates, spans of unequal length or too many labelled queries; the
// error of `check` when it returns one.
[[nodiscard]] Result<std::vector<ReplicateValues>> bootstrap_replicates(
    std::span<const std::optional<double>> confidences, std::span<const std::optional<bool>> labels,
    const BootstrapRequest& request);

// Returns the estimates and the percentile intervals (see
// percentile_interval: NaN replicates are counted and left out; the interval
// is NaN when too few remain) of the replicates above, and the Wilson
// interval of the risk at the threshold. With no labelled query every
// figure is NaN. Fails as bootstrap_replicates does.
[[nodiscard]] Result<BootstrapIntervals> bootstrap_intervals(
    std::span<const std::optional<double>> confidences, std::span<const std::optional<bool>> labels,
    const BootstrapRequest& request);

// Returns the pointwise percentile band of the risk-coverage curve: for
// each of `coverages`, the percentile interval over the replicates above
// of the risk at that coverage (risk_at_coverage) on the replicate's curve,
// NaN replicates (no row of that coverage or less) left out. A NaN coverage
// gets a NaN interval. Fails as bootstrap_replicates does; the request's
// threshold is not used.
[[nodiscard]] Result<std::vector<Interval>> bootstrap_risk_band(
    std::span<const std::optional<double>> confidences, std::span<const std::optional<bool>> labels,
    std::span<const double> coverages, const BootstrapRequest& request);

}  // namespace ferolin::stats
