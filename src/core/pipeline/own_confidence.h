// A query's own confidence: the top candidate's value in a column that the
// table carries (a search tool's calibrated score, an e-value, the score
// itself), instead of one computed from the candidates by a scoring method.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/table/number_spelling.h"

namespace ferolin::pipeline {

// Returns one confidence per query from the top candidates' cells of
// `column`: absent for an empty cell, the cell's number otherwise, negated
// when `lower_is_better` (an e-value or a rank), so that a higher confidence
// always means a more trusted query and every curve and threshold keeps its
// direction. Cells are read in the table's spelling of numbers `numbers`
// (a decimal comma; a missing spelling is absent, as an empty cell). A cell
// that is not a number fails as Csv, naming the column, the cell and the
// query's position among the queries.
[[nodiscard]] Result<std::vector<std::optional<double>>> own_confidences(
    std::span<const std::optional<std::string>> cells, std::string_view column,
    bool lower_is_better, const table::NumberSpelling& numbers = {});

// Returns the top scores as confidences, negated when `lower_is_better`:
// the own confidence when the column is the score column itself, which a
// pass keeps anyway.
[[nodiscard]] std::vector<std::optional<double>> top_score_confidences(
    std::span<const double> top_scores, bool lower_is_better);

}  // namespace ferolin::pipeline
