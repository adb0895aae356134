#include "core/table/number_spelling.h"

#include <algorithm>

namespace ferolin::table {

std::vector<std::string> common_missing_spellings() { return {"NA", "NaN", "nan", "null", "None"}; }

bool is_missing_spelling(std::string_view cell, const NumberSpelling& spelling) {
  return std::ranges::find(spelling.missing, cell) != spelling.missing.end();
}

std::string_view number_cell(std::string_view cell, const NumberSpelling& spelling,
                             std::string& buffer) {
  if (is_missing_spelling(cell, spelling)) return {};
  if (spelling.decimal == '.') return cell;
  const std::size_t comma = cell.find(spelling.decimal);
  // A point in a decimal-comma table is a thousands separator or a mistake:
  // either way the cell is not a number that can be read safely.
  if (comma == std::string_view::npos || cell.find('.') != std::string_view::npos ||
      cell.find(spelling.decimal, comma + 1) != std::string_view::npos) {
    return cell;
  }
  buffer.assign(cell);
  buffer[comma] = '.';
  return buffer;
}

}  // namespace ferolin::table
