#include "core/stats/weighted_walk.h"

#include <limits>

#include "core/metrics/aurc.h"

namespace ferolin::stats {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The running state of compute_curve's walk and of the two trapezoid sums.
// A block that the resample did not draw leaves accepted and errors as they
// were, so its point coincides with the previous one and its trapezoid is
// exactly +0.0: adding it changes no bit, and the loop needs no branch on
// the (unpredictable) empty blocks.
struct Walk {
  double total = 0.0;
  std::uint64_t accepted = 0;
  std::uint64_t errors = 0;
  double coverage = 0.0;
  double risk = 0.0;
  double generalized_risk = 0.0;
  double aurc = 0.0;
  double augrc = 0.0;

  void over(std::span<const std::uint32_t> counts, std::uint32_t begin, std::uint32_t end) {
    for (std::uint32_t b = begin; b < end; ++b) {
      const std::uint64_t wrong = counts[2 * b + 1];
      accepted += counts[2 * b] + wrong;
      errors += wrong;
      const double next_coverage = static_cast<double>(accepted) / total;
      // Before the first drawn block accepted is 0 and errors 0: 0 / 1 keeps
      // the starting risk 0 instead of 0 / 0.
      const double next_risk =
          static_cast<double>(errors) / static_cast<double>(accepted > 0 ? accepted : 1);
      const double next_generalized = static_cast<double>(errors) / total;
      aurc += metrics::trapezoid_step(risk, next_risk, coverage, next_coverage);
      augrc += metrics::trapezoid_step(generalized_risk, next_generalized, coverage, next_coverage);
      coverage = next_coverage;
      risk = next_risk;
      generalized_risk = next_generalized;
    }
  }
};

}  // namespace

ReplicateValues evaluate_counts(const LabelledCells& cells, std::span<const std::uint32_t> counts) {
  Walk walk;
  walk.total = static_cast<double>(cells.total);
  walk.over(counts, 0, cells.accepted_begin);
  const std::uint64_t accepted_before = walk.accepted;
  const std::uint64_t errors_before = walk.errors;
  walk.over(counts, cells.accepted_begin, cells.accepted_end);
  ReplicateValues values;
  values.accepted = walk.accepted - accepted_before;
  values.errors = walk.errors - errors_before;
  walk.over(counts, cells.accepted_end, cells.blocks);

  // No drawn query has a confidence: compute_curve gives an empty curve.
  const bool empty_curve = walk.accepted == 0;
  values.aurc = empty_curve ? kNaN : walk.aurc;
  values.augrc = empty_curve ? kNaN : walk.augrc;
  values.eaurc = metrics::excess_area(values.aurc, walk.accepted, walk.errors, cells.total);
  values.coverage = static_cast<double>(values.accepted) / walk.total;
  values.risk = values.accepted == 0
                    ? kNaN
                    : static_cast<double>(values.errors) / static_cast<double>(values.accepted);
  return values;
}

}  // namespace ferolin::stats
