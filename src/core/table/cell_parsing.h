// Conversion of the cells of a candidates table into field values, with the
// reasons a cell is refused.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

namespace ferolin::table {

enum class CellError {
  EmptyInteger,
  InvalidDigit,
  IntegerTooLarge,
  EmptyFloat,
  InvalidFloat,
  InvalidBool,
};

// Returns the reason shown in a conversion error, e.g. "invalid digit found
// in string".
[[nodiscard]] std::string_view cell_error_text(CellError error);

// Returns the 64-bit unsigned value of decimal digits with an optional
// leading "+", or of "0x" followed by hexadecimal digits of either case.
[[nodiscard]] std::expected<std::uint64_t, CellError> parse_rank(std::string_view cell);

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
[[nodiscard]] std::optional<CellError> check_float(std::string_view cell);

// Returns true for exactly "true" and false for exactly "false".
[[nodiscard]] std::expected<bool, CellError> parse_bool(std::string_view cell);

// How `is_correct` cells are spelled.
enum class LabelSpelling {
  Exact,    // exactly "true" or "false"
  Lenient,  // "true"/"false" in any letter case, or "1"/"0" (as pandas and R write)
};

// Returns the label a cell spells under `spelling`.
[[nodiscard]] std::expected<bool, CellError> parse_label(std::string_view cell,
                                                         LabelSpelling spelling);

}  // namespace ferolin::table
