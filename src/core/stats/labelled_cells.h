// The labelled queries of a bootstrap, sorted once: each query falls into a
// cell (its confidence's block, and whether its top candidate is wrong), so
// that a resample is only a count per cell and each replicate one linear
// walk over the blocks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/error.h"

namespace ferolin::stats {

// The largest number of labelled queries a bootstrap takes: cell numbers
// (two a distinct confidence, plus one) must fit 32 bits.
inline constexpr std::uint64_t kMaxBootstrapQueries = 2147483647;

struct LabelledCells {
  // n, the labelled queries; each resample draws n of them.
  std::uint64_t total = 0;
  // Blocks: the distinct present, non-NaN confidences in descending order
  // (IEEE 754 total order, +0.0 and -0.0 one block), the rows of
  // compute_curve. Block b has the cells 2b (correct) and 2b + 1 (wrong);
  // the last cell, 2 * blocks, holds the queries that are never accepted
  // (confidence absent or NaN).
  std::uint32_t blocks = 0;
  // Per labelled query, in input order (unlabelled queries skipped): its cell.
  std::vector<std::uint32_t> cell_of;
  // Per cell: the queries it holds; the counts of the data as given.
  std::vector<std::uint32_t> sizes;
  // The blocks a policy with the fixed threshold accepts (finite confidence
  // at least the threshold): [accepted_begin, accepted_end).
  std::uint32_t accepted_begin = 0;
  std::uint32_t accepted_end = 0;

  // Returns the number of cells, 2 * blocks + 1.
  [[nodiscard]] std::size_t cells() const { return std::size_t{2} * blocks + 1; }
};

// Returns the cells of the queries that carry a label (`confidences` and
// `labels` one entry a query), with the blocks accepted at `threshold`.
// Returns InvalidArgument when the spans differ in length or more than
// kMaxBootstrapQueries queries are labelled.
[[nodiscard]] Result<LabelledCells> make_labelled_cells(
    std::span<const std::optional<double>> confidences, std::span<const std::optional<bool>> labels,
    double threshold);

}  // namespace ferolin::stats
