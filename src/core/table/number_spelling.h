// NumberSpelling: how the number cells of a table exported by a spreadsheet
// or a data-frame library are written (a decimal comma, "NA" for a missing
// value), and their translation into the cells that parse_float reads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ferolin::table {

struct NumberSpelling {
  // The character between the integer and the fraction: '.' or ','.
  char decimal = '.';
  // Cells of `score`, `probability` and `is_correct` that stand for a
  // missing value, as R writes "NA" and pandas "NaN"; matched exactly.
  std::vector<std::string> missing;

  // Returns true for the plain spelling, whose cells need no translation.
  [[nodiscard]] bool is_plain() const { return decimal == '.' && missing.empty(); }
};

// Returns the spellings of a missing value that R, pandas and polars write:
// "NA", "NaN", "nan", "null", "None".
[[nodiscard]] std::vector<std::string> common_missing_spellings();

// Returns true when `cell` is one of the missing spellings.
[[nodiscard]] bool is_missing_spelling(std::string_view cell, const NumberSpelling& spelling);

// Returns `cell` as parse_float reads it: empty for a missing spelling;
// with a decimal comma, the cell with its one comma made a point (written
// into `buffer`, which the result may view); otherwise the cell itself. A
// cell with two commas, or with a point beside the comma, is left as it is,
// so that parsing fails on it.
[[nodiscard]] std::string_view number_cell(std::string_view cell, const NumberSpelling& spelling,
                                           std::string& buffer);

// Returns true when an empty score cell means a missing score (NaN) rather
// than a fault: when the table has missing spellings, as pandas writes a
// missing value as an empty cell.
[[nodiscard]] inline bool empty_score_is_missing(const NumberSpelling& spelling) {
  return !spelling.missing.empty();
}

}  // namespace ferolin::table
