#include "core/pipeline/own_confidence.h"

#include "core/table/cell_parsing.h"

namespace ferolin::pipeline {

Result<std::vector<std::optional<double>>> own_confidences(
    std::span<const std::optional<std::string>> cells, std::string_view column,
    bool lower_is_better, const table::NumberSpelling& numbers) {
  std::vector<std::optional<double>> confidences;
  confidences.reserve(cells.size());
  std::string buffer;
  for (std::size_t q = 0; q < cells.size(); ++q) {
    const std::string_view cell =
        cells[q] ? table::number_cell(*cells[q], numbers, buffer) : std::string_view();
    if (cell.empty()) {
      confidences.emplace_back();
      continue;
    }
    const auto value = table::parse_float(cell);
    if (!value) {
      return std::unexpected(FerolinError::csv(
          "column '" + std::string(column) + "': the top candidate of query " +
          std::to_string(q + 1) + " has '" + *cells[q] + "': " +
          std::string(table::cell_error_text(value.error()))));
    }
    confidences.emplace_back(lower_is_better ? -*value : *value);
  }
  return confidences;
}

std::vector<std::optional<double>> top_score_confidences(std::span<const double> top_scores,
                                                         bool lower_is_better) {
  std::vector<std::optional<double>> confidences;
  confidences.reserve(top_scores.size());
  for (const double score : top_scores) confidences.emplace_back(lower_is_better ? -score : score);
  return confidences;
}

}  // namespace ferolin::pipeline
