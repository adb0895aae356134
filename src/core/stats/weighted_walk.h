// One bootstrap replicate in one linear pass: the areas and the figures at a
// fixed threshold of the labelled queries weighted by how often a resample
// drew them, equal to the last bit to compute_curve and the metrics run on
// the resampled (duplicated) data, without building the curve.
#pragma once

#include <cstdint>
#include <span>

#include "core/stats/labelled_cells.h"

namespace ferolin::stats {

// The figures of one (re)sample; NaN where compute_aurc and its kin give NaN.
struct ReplicateValues {
  double aurc = 0.0;
  double eaurc = 0.0;
  double augrc = 0.0;
  // At the fixed threshold, by the policy's rule (finite confidence at least
  // the threshold): accepted / n, and errors / accepted (NaN when nothing
  // is accepted).
  double coverage = 0.0;
  double risk = 0.0;
  std::uint64_t accepted = 0;
  std::uint64_t errors = 0;
};

// Returns the figures of the data in which each query of cell c appears
// counts[c] times in all (counts.size() == cells.cells(), summing to
// cells.total); with counts = cells.sizes, those of the data as given.
[[nodiscard]] ReplicateValues evaluate_counts(const LabelledCells& cells,
                                              std::span<const std::uint32_t> counts);

}  // namespace ferolin::stats
