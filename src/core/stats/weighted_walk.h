// One bootstrap replicate in one linear pass: the areas and the figures at a
// fixed threshold of the labelled queries weighted by how often a resample
// drew them, equal to the last bit to compute_curve and the metrics run on
// the resampled (duplicated) data, without building the curve.
#pragma once

#include <cstdint>
#include <span>

#include "core/stats/sorted_queries.h"

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

// Returns the figures of the data in which the query at position p appears
// counts[p] times (counts.size() == queries.total, the counts summing to
// it); with every count 1, those of the data as given. Count is
// std::uint8_t or std::uint32_t.
template <typename Count>
[[nodiscard]] ReplicateValues evaluate_counts(const SortedQueries& queries,
                                              std::span<const Count> counts);

}  // namespace ferolin::stats
