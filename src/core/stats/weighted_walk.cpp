#include "core/stats/weighted_walk.h"

#include <limits>

#include "core/metrics/aurc.h"

namespace ferolin::stats {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The running state of compute_curve's walk and of the two trapezoid sums.
// A row whose queries the resample did not draw leaves accepted and errors
// as they were, so its point coincides with the previous one and its
// trapezoid is exactly +0.0: adding it changes no bit, so rows need no
// test for being drawn.
struct Walk {
  const SortedQueries& queries;
  std::uint64_t accepted = 0;
  std::uint64_t errors = 0;
  double coverage = 0.0;
  double risk = 0.0;
  double generalized_risk = 0.0;
  double aurc = 0.0;
  double augrc = 0.0;

  void end_row() {
    const double next_coverage = queries.fractions[accepted];
    // Before the first drawn row accepted and errors are 0: 0 / 1 keeps the
    // starting risk 0 where 0 / 0 would give NaN.
    const double next_risk =
        static_cast<double>(errors) / static_cast<double>(accepted > 0 ? accepted : 1);
    const double next_generalized = queries.fractions[errors];
    aurc += metrics::trapezoid_step(risk, next_risk, coverage, next_coverage);
    augrc += metrics::trapezoid_step(generalized_risk, next_generalized, coverage, next_coverage);
    coverage = next_coverage;
    risk = next_risk;
    generalized_risk = next_generalized;
  }

  template <typename Count>
  void over(std::span<const Count> counts, std::uint64_t begin, std::uint64_t end) {
    const std::uint8_t* flags = queries.flags.data();
    for (std::uint64_t p = begin; p < end; ++p) {
      const std::uint64_t drawn = counts[p];
      accepted += drawn;
      // All ones or all zeros: adds the draws of a wrong top candidate only.
      errors += drawn & (std::uint64_t{0} - (flags[p] & SortedQueries::kWrong));
      if (flags[p] & SortedQueries::kRowEnd) end_row();
    }
  }
};

}  // namespace

template <typename Count>
ReplicateValues evaluate_counts(const SortedQueries& queries, std::span<const Count> counts) {
  Walk walk{queries};
  walk.over(counts, 0, queries.accepted_begin);
  const std::uint64_t accepted_before = walk.accepted;
  const std::uint64_t errors_before = walk.errors;
  walk.over(counts, queries.accepted_begin, queries.accepted_end);
  ReplicateValues values;
  values.accepted = walk.accepted - accepted_before;
  values.errors = walk.errors - errors_before;
  walk.over(counts, queries.accepted_end, queries.acceptable);

  // No drawn query has a usable confidence: compute_curve gives no rows.
  const bool empty_curve = walk.accepted == 0;
  values.aurc = empty_curve ? kNaN : walk.aurc;
  values.augrc = empty_curve ? kNaN : walk.augrc;
  values.eaurc = metrics::excess_area(values.aurc, walk.accepted, walk.errors, queries.total);
  values.coverage = queries.fractions[values.accepted];
  values.risk = values.accepted == 0
                    ? kNaN
                    : static_cast<double>(values.errors) / static_cast<double>(values.accepted);
  return values;
}

template ReplicateValues evaluate_counts(const SortedQueries&, std::span<const std::uint8_t>);
template ReplicateValues evaluate_counts(const SortedQueries&, std::span<const std::uint32_t>);

}  // namespace ferolin::stats
