// Conversion of the cells of a candidates table into field values, with the
// reasons a cell is refused.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "core/error.h"
#include "core/table/decimal_words.h"

namespace ferolin::table {

using ferolin::CellError;

// Returns the reason shown in a conversion error, e.g. "invalid digit found
// in string".
[[nodiscard]] std::string_view cell_error_text(CellError error);

namespace detail {
// The general cases of parse_rank and check_float, out of line.
[[nodiscard]] std::expected<std::uint64_t, CellError> parse_any_rank(std::string_view cell);
[[nodiscard]] std::optional<CellError> check_any_float(std::string_view cell);
}  // namespace detail

// Returns the 64-bit unsigned value of decimal digits with an optional
// leading "+", or of "0x" followed by hexadecimal digits of either case.
[[nodiscard]] inline std::expected<std::uint64_t, CellError> parse_rank(std::string_view cell) {
  // Most ranks are a few decimal digits, and 19 of them cannot overflow.
  if (!cell.empty() && cell.size() <= 19) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < cell.size(); ++i) {
      const auto digit = static_cast<unsigned char>(cell[i] - '0');
      if (digit > 9) break;
      value = value * 10 + digit;
    }
    if (i == cell.size()) return value;
  }
  return detail::parse_any_rank(cell);
}

// Returns the correctly rounded value of a decimal number with optional sign,
// fraction and exponent (".5" and "5." included; out-of-range magnitudes
// give an infinity or a zero), or of "inf", "infinity" or "nan" in any case
// with an optional sign. Nothing else is accepted.
[[nodiscard]] std::expected<double, CellError> parse_float(std::string_view cell);

// Returns nothing when parse_float accepts `cell`, else the reason it
// refuses it; the same verdict without computing the value, for cells whose
// value is not needed. It checks the grammar that parse_float accepts, the
// decimal form of std::from_chars (digits with at most one point and at
// least one digit, then optionally "e" or "E", an optional sign and digits)
// after an optional sign, or the words above.
[[nodiscard]] inline std::optional<CellError> check_float(std::string_view cell) {
  std::string_view digits = cell;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (const auto plain = decimal_words::digits_with_one_point(digits)) {
    return *plain ? std::nullopt : std::optional(CellError::InvalidFloat);
  }
  return detail::check_any_float(cell);
}

// Returns true for exactly "true" and false for exactly "false".
[[nodiscard]] inline std::expected<bool, CellError> parse_bool(std::string_view cell) {
  if (cell == "true") return true;
  if (cell == "false") return false;
  return std::unexpected(CellError::InvalidBool);
}

// How `is_correct` cells are spelled.
enum class LabelSpelling {
  Exact,    // exactly "true" or "false"
  Lenient,  // "true"/"false" in any letter case, or "1"/"0" (as pandas and R write)
};

// Returns the label a cell spells in lenient spelling.
[[nodiscard]] std::expected<bool, CellError> parse_lenient_label(std::string_view cell);

// Returns the label a cell spells under `spelling`.
[[nodiscard]] inline std::expected<bool, CellError> parse_label(std::string_view cell,
                                                                LabelSpelling spelling) {
  return spelling == LabelSpelling::Exact ? parse_bool(cell) : parse_lenient_label(cell);
}

}  // namespace ferolin::table
