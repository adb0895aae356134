// The labelled queries of a bootstrap, sorted once in the order the
// risk-coverage curve walks them, with what each replicate's walk reads per
// position: whether the top candidate is wrong and whether the position
// ends a run of equal confidences (a row of the curve).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/error.h"

namespace ferolin::stats {

// The largest number of labelled queries a bootstrap takes, so that every
// position is a 32-bit draw.
inline constexpr std::uint64_t kMaxBootstrapQueries = 2147483647;

struct SortedQueries {
  static constexpr std::uint8_t kWrong = 1;   // the top candidate is wrong
  static constexpr std::uint8_t kRowEnd = 2;  // the last of its confidence

  // n, the labelled queries. Positions 0 .. n - 1 number them in descending
  // IEEE 754 total order of confidence, the correct before the wrong among
  // equal confidences, those whose confidence is absent or NaN last (in
  // input order: their labels are never read); a resample draws n
  // positions. So the positions depend on the queries' pairs, not on their
  // order.
  std::uint64_t total = 0;
  // m: positions 0 .. m - 1 have a confidence that can be accepted.
  std::uint64_t acceptable = 0;
  // Per position below m: kWrong and kRowEnd bits. Equal confidences
  // (+0.0 and -0.0 alike, as compute_curve merges them) form one row.
  std::vector<std::uint8_t> flags;
  // The positions a policy with the fixed threshold accepts (finite
  // confidence at least the threshold): [accepted_begin, accepted_end).
  std::uint64_t accepted_begin = 0;
  std::uint64_t accepted_end = 0;
  // fractions[k] = k / n for k = 0 .. n: every coverage and generalized risk
  // the walk needs, divided once instead of once per row and replicate.
  std::vector<double> fractions;
};

// Returns the sorted queries that carry a label (`confidences` and `labels`
// one entry a query), with the positions accepted at `threshold`. Returns
// InvalidArgument when the spans differ in length or more than
// kMaxBootstrapQueries queries are labelled.
[[nodiscard]] Result<SortedQueries> sort_labelled_queries(
    std::span<const std::optional<double>> confidences, std::span<const std::optional<bool>> labels,
    double threshold);

}  // namespace ferolin::stats
