#include "core/stats/bootstrap.h"

#include <string>

#include "core/number_format.h"
#include "core/stats/percentile.h"
#include "core/stats/resample.h"
#include "core/stats/sorted_queries.h"
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
  SortedQueries queries;
};

Result<Prepared> prepare(std::span<const std::optional<double>> confidences,
                         std::span<const std::optional<bool>> labels,
                         const BootstrapRequest& request) {
  Result<IntervalLevel> level = check_request(request);
  if (!level) return std::unexpected(std::move(level.error()));
  Result<SortedQueries> queries = sort_labelled_queries(confidences, labels, request.threshold);
  if (!queries) return std::unexpected(std::move(queries.error()));
  return Prepared{*level, std::move(*queries)};
}

// One byte a count keeps the counts in the cache. A count can pass 255 only
// when one query is drawn 256 times, which for large n essentially never
// happens; that replicate is then drawn again into 32-bit counts.
ReplicateValues run_replicate(const SortedQueries& queries, std::uint64_t seed,
                              std::uint64_t replicate, std::vector<std::uint8_t>& counts,
                              std::vector<std::uint32_t>& wide_counts) {
  if (count_resample<std::uint8_t>(seed, replicate, counts)) {
    return evaluate_counts<std::uint8_t>(queries, counts);
  }
  wide_counts.resize(queries.total);
  const bool fits = count_resample<std::uint32_t>(seed, replicate, wide_counts);
  (void)fits;  // n < 2^31 draws cannot overflow 32 bits
  return evaluate_counts<std::uint32_t>(queries, wide_counts);
}

Result<std::vector<ReplicateValues>> run_replicates(const SortedQueries& queries,
                                                    const BootstrapRequest& request) {
  std::vector<ReplicateValues> replicates;
  replicates.reserve(request.replicates);
  std::vector<std::uint8_t> counts(queries.total);
  std::vector<std::uint32_t> wide_counts;
  for (std::uint64_t r = 0; r < request.replicates; ++r) {
    replicates.push_back(run_replicate(queries, request.seed, r, counts, wide_counts));
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
  return run_replicates(prepared->queries, request);
}

Result<BootstrapIntervals> bootstrap_intervals(std::span<const std::optional<double>> confidences,
                                               std::span<const std::optional<bool>> labels,
                                               const BootstrapRequest& request) {
  const Result<Prepared> prepared = prepare(confidences, labels, request);
  if (!prepared) return std::unexpected(prepared.error());
  const SortedQueries& queries = prepared->queries;
  const IntervalLevel& level = prepared->level;
  const Result<std::vector<ReplicateValues>> replicates = run_replicates(queries, request);
  if (!replicates) return std::unexpected(replicates.error());

  const std::vector<std::uint8_t> once(queries.total, 1);
  const ReplicateValues estimate = evaluate_counts<std::uint8_t>(queries, once);
  BootstrapIntervals result;
  result.aurc = summarise(*replicates, &ReplicateValues::aurc, estimate.aurc, level);
  result.eaurc = summarise(*replicates, &ReplicateValues::eaurc, estimate.eaurc, level);
  result.augrc = summarise(*replicates, &ReplicateValues::augrc, estimate.augrc, level);
  result.coverage = summarise(*replicates, &ReplicateValues::coverage, estimate.coverage, level);
  result.risk = summarise(*replicates, &ReplicateValues::risk, estimate.risk, level);
  result.risk_wilson = wilson_interval(estimate.accepted, estimate.errors, level);
  result.labelled = queries.total;
  result.accepted = estimate.accepted;
  result.errors = estimate.errors;
  result.replicates = request.replicates;
  result.seed = request.seed;
  result.level = request.level;
  return result;
}

}  // namespace ferolin::stats
