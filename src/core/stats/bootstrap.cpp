#include "core/stats/bootstrap.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

// The draw counts of one replicate after another. One byte a count keeps
// the counts in the cache. A count can pass 255 only when one query is
// drawn 256 times, which for large n essentially never happens; that
// replicate is then drawn again into 32-bit counts.
class ReplicateCounts {
 public:
  explicit ReplicateCounts(std::uint64_t n) : counts_(n) {}

  // Returns `use(counts)` for replicate `replicate`'s counts, as a span of
  // std::uint8_t or std::uint32_t.
  template <typename Use>
  auto with_counts(std::uint64_t seed, std::uint64_t replicate, Use&& use) {
    if (count_resample<std::uint8_t>(seed, replicate, counts_)) {
      return use(std::span<const std::uint8_t>(counts_));
    }
    wide_counts_.resize(counts_.size());
    const bool fits = count_resample<std::uint32_t>(seed, replicate, wide_counts_);
    (void)fits;  // n < 2^31 draws cannot overflow 32 bits
    return use(std::span<const std::uint32_t>(wide_counts_));
  }

 private:
  std::vector<std::uint8_t> counts_;
  std::vector<std::uint32_t> wide_counts_;
};

// Runs `each(counts)` for replicates 0 to B - 1, checking in after each.
template <typename Each>
Result<void> for_each_replicate(std::uint64_t n, const BootstrapRequest& request, Each&& each) {
  ReplicateCounts counts(n);
  for (std::uint64_t r = 0; r < request.replicates; ++r) {
    counts.with_counts(request.seed, r, each);
    if (request.check) {
      Result<void> go_on = request.check(r + 1);
      if (!go_on) return go_on;
    }
  }
  return {};
}

Result<std::vector<ReplicateValues>> run_replicates(const SortedQueries& queries,
                                                    const BootstrapRequest& request) {
  std::vector<ReplicateValues> replicates;
  replicates.reserve(request.replicates);
  Result<void> done = for_each_replicate(queries.total, request, [&](auto counts) {
    replicates.push_back(evaluate_counts(queries, counts));
  });
  if (!done) return std::unexpected(std::move(done.error()));
  return replicates;
}

// Writes to out[order[g]] the risk of the last row of the counted curve
// whose coverage is at most coverages[order[g]] (NaN where none), for the
// coverages ordered ascending by `order`. Rows are walked as in
// evaluate_counts; a row that the resample did not draw is no row.
template <typename Count>
void risks_at_coverages(const SortedQueries& queries, std::span<const Count> counts,
                        std::span<const double> coverages, std::span<const std::size_t> order,
                        std::span<double> out) {
  double last_risk = std::numeric_limits<double>::quiet_NaN();
  std::uint64_t accepted = 0;
  std::uint64_t errors = 0;
  std::uint64_t row_start = 0;
  std::size_t g = 0;
  for (std::uint64_t p = 0; p < queries.acceptable; ++p) {
    accepted += counts[p];
    if (queries.flags[p] & SortedQueries::kWrong) errors += counts[p];
    if (!(queries.flags[p] & SortedQueries::kRowEnd) || accepted == row_start) continue;
    row_start = accepted;
    const double coverage = queries.fractions[accepted];
    for (; g < order.size() && coverages[order[g]] < coverage; ++g) out[order[g]] = last_risk;
    last_risk = static_cast<double>(errors) / static_cast<double>(accepted);
  }
  for (; g < order.size(); ++g) out[order[g]] = last_risk;
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

Result<std::vector<Interval>> bootstrap_risk_band(
    std::span<const std::optional<double>> confidences, std::span<const std::optional<bool>> labels,
    std::span<const double> coverages, const BootstrapRequest& request) {
  const Result<Prepared> prepared = prepare(confidences, labels, request);
  if (!prepared) return std::unexpected(prepared.error());
  // The coverages that are numbers, ascending, for one walk per replicate.
  std::vector<std::size_t> order;
  for (std::size_t g = 0; g < coverages.size(); ++g) {
    if (!std::isnan(coverages[g])) order.push_back(g);
  }
  std::ranges::sort(order,
                    [&](std::size_t a, std::size_t b) { return coverages[a] < coverages[b]; });
  // risks[g * B + r]: the risk at coverage g in replicate r.
  const std::uint64_t replicates = request.replicates;
  std::vector<double> risks(coverages.size() * replicates,
                            std::numeric_limits<double>::quiet_NaN());
  std::vector<double> one_replicate(coverages.size(), std::numeric_limits<double>::quiet_NaN());
  std::uint64_t r = 0;
  Result<void> done = for_each_replicate(prepared->queries.total, request, [&](auto counts) {
    risks_at_coverages(prepared->queries, counts, coverages, order, one_replicate);
    for (std::size_t g = 0; g < coverages.size(); ++g) risks[g * replicates + r] = one_replicate[g];
    ++r;
  });
  if (!done) return std::unexpected(std::move(done.error()));
  std::vector<Interval> band;
  band.reserve(coverages.size());
  for (std::size_t g = 0; g < coverages.size(); ++g) {
    const auto first = risks.begin() + static_cast<std::ptrdiff_t>(g * replicates);
    band.push_back(percentile_interval(
                       std::vector<double>(first, first + static_cast<std::ptrdiff_t>(replicates)),
                       prepared->level)
                       .interval);
  }
  return band;
}

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
