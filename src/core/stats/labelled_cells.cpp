#include "core/stats/labelled_cells.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/total_order.h"

namespace ferolin::stats {
namespace {

struct Acceptable {
  double confidence;
  std::uint32_t query;  // position among the labelled queries
};

// The labelled queries in input order: each one's position, and the
// acceptable ones (present, non-NaN confidence) for sorting.
void collect(std::span<const std::optional<double>> confidences,
             std::span<const std::optional<bool>> labels, std::vector<bool>& wrong,
             std::vector<Acceptable>& acceptable) {
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (!labels[i]) continue;
    const auto query = static_cast<std::uint32_t>(wrong.size());
    wrong.push_back(!*labels[i]);
    const std::optional<double>& confidence = confidences[i];
    // As in compute_curve: NaN equals nothing, so it can be no threshold.
    if (confidence && !std::isnan(*confidence)) acceptable.push_back({*confidence, query});
  }
}

// The first block from `begin` whose confidence a policy with `threshold`
// rejects (not finite, or below the threshold).
std::uint32_t first_rejected(std::span<const double> block_confidences, std::uint32_t begin,
                             double threshold) {
  std::uint32_t b = begin;
  while (b < block_confidences.size() && std::isfinite(block_confidences[b]) &&
         block_confidences[b] >= threshold) {
    ++b;
  }
  return b;
}

}  // namespace

Result<LabelledCells> make_labelled_cells(std::span<const std::optional<double>> confidences,
                                          std::span<const std::optional<bool>> labels,
                                          double threshold) {
  if (confidences.size() != labels.size()) {
    return std::unexpected(FerolinError::invalid_argument(
        "confidences and labels differ in length: " + std::to_string(confidences.size()) + " and " +
        std::to_string(labels.size())));
  }
  const auto labelled = static_cast<std::uint64_t>(
      std::count_if(labels.begin(), labels.end(), [](const auto& l) { return l.has_value(); }));
  if (labelled > kMaxBootstrapQueries) {
    return std::unexpected(FerolinError::invalid_argument(
        "the bootstrap takes at most " + std::to_string(kMaxBootstrapQueries) +
        " labelled queries, got " + std::to_string(labelled)));
  }
  std::vector<bool> wrong;
  std::vector<Acceptable> acceptable;
  wrong.reserve(labelled);
  acceptable.reserve(labelled);
  collect(confidences, labels, wrong, acceptable);
  std::sort(acceptable.begin(), acceptable.end(), [](const Acceptable& a, const Acceptable& b) {
    return total_order_key(a.confidence) > total_order_key(b.confidence);
  });

  LabelledCells cells;
  cells.total = labelled;
  // Until the blocks are counted, queries never accepted hold a placeholder.
  constexpr std::uint32_t kUnplaced = std::numeric_limits<std::uint32_t>::max();
  cells.cell_of.assign(labelled, kUnplaced);
  std::vector<double> block_confidences;
  for (std::size_t i = 0; i < acceptable.size(); ++i) {
    // Ordinary equality merges ties as compute_curve does (+0.0 == -0.0).
    if (i == 0 || acceptable[i].confidence != block_confidences.back()) {
      block_confidences.push_back(acceptable[i].confidence);
    }
    const auto block = static_cast<std::uint32_t>(block_confidences.size() - 1);
    const std::uint32_t query = acceptable[i].query;
    cells.cell_of[query] = 2 * block + (wrong[query] ? 1 : 0);
  }
  cells.blocks = static_cast<std::uint32_t>(block_confidences.size());
  cells.sizes.assign(cells.cells(), 0);
  for (std::uint32_t& cell : cells.cell_of) {
    if (cell == kUnplaced) cell = 2 * cells.blocks;
    ++cells.sizes[cell];
  }
  // A +inf block (at most one, first) is rejected; the accepted run follows.
  const bool infinite_first =
      cells.blocks > 0 && block_confidences[0] == std::numeric_limits<double>::infinity();
  cells.accepted_begin = infinite_first ? 1 : 0;
  cells.accepted_end = first_rejected(block_confidences, cells.accepted_begin, threshold);
  return cells;
}

}  // namespace ferolin::stats
