#include "core/table/cell_parsing.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <limits>
#include <system_error>

namespace ferolin::table {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view text, std::string_view lower) {
  return std::ranges::equal(text, lower, [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
  });
}

// Returns the exponent saturated far beyond any double's range, so that
// "1e99999999999999999999" still counts as large.
std::int64_t saturated_exponent(std::string_view text) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 40;
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) value = std::min(kLimit, value * 10 + (text[i] - '0'));
  return negative ? -value : value;
}

// For a well-formed unsigned decimal `text` whose value is out of a double's
// range: returns true when it is too large (rather than too small), judged
// by the decimal exponent of its first nonzero digit.
bool is_too_large(std::string_view text) {
  const std::size_t e = text.find_first_of("eE");
  const std::string_view mantissa = text.substr(0, e);
  const std::int64_t exponent =
      e == std::string_view::npos ? 0 : saturated_exponent(text.substr(e + 1));
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t lead = mantissa.find_first_of("123456789");
  if (lead == std::string_view::npos) return false;
  const auto point_i = static_cast<std::int64_t>(point);
  const auto lead_i = static_cast<std::int64_t>(lead);
  const std::int64_t magnitude = lead < point ? point_i - lead_i - 1 : point_i - lead_i;
  return exponent + magnitude >= 0;
}

// The value of a short plain decimal (digits with at most one point, the
// form of most cells), or nothing for any other text. With at most 15
// digits, the digits read as an integer below 2^53 and the divisor is a
// power of ten up to 10^15: both are exact doubles, so the one division
// gives the correctly rounded value, the one from_chars gives (Clinger's
// fast path).
std::optional<double> short_plain_decimal(std::string_view text) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const std::size_t size = text.size();
  if (size > 16) return std::nullopt;
  const char* const end = text.data() + size;
  const char* point = nullptr;
  std::uint64_t digits = 0;
  for (const char* p = text.data(); p != end; ++p) {
    const auto digit = static_cast<unsigned char>(*p - '0');
    if (digit <= 9) {
      digits = digits * 10 + digit;
    } else if (*p != '.' || point != nullptr) {
      return std::nullopt;
    } else {
      point = p;
    }
  }
  const std::size_t count = size - (point != nullptr ? 1 : 0);
  if (count == 0 || count > 15) return std::nullopt;
  const auto fraction = point != nullptr ? static_cast<std::size_t>(end - point - 1) : 0;
  return static_cast<double>(digits) / kPowersOfTen[fraction];
}

std::expected<double, CellError> parse_unsigned_decimal(std::string_view text) {
  if (const auto value = short_plain_decimal(text)) return *value;
  double value = 0.0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec == std::errc::invalid_argument || end != text.data() + text.size()) {
    return std::unexpected(CellError::InvalidFloat);
  }
  // On a range error from_chars leaves `value` alone; the correctly rounded
  // result is then an infinity or a zero.
  if (ec == std::errc::result_out_of_range) {
    value = is_too_large(text) ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return value;
}

// A digit or a point starts a decimal number; from_chars then cannot take
// a sign, "inf", "nan(...)" or a hexadecimal form.
bool starts_decimal(std::string_view text) {
  return !text.empty() && (is_digit(text[0]) || text[0] == '.');
}

bool is_infinity_word(std::string_view text) {
  return equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "infinity");
}

std::expected<double, CellError> parse_unsigned_float(std::string_view text) {
  if (starts_decimal(text)) return parse_unsigned_decimal(text);
  if (is_infinity_word(text)) return std::numeric_limits<double>::infinity();
  if (equals_ignoring_case(text, "nan")) return std::numeric_limits<double>::quiet_NaN();
  return std::unexpected(CellError::InvalidFloat);
}

const char* skip_digits(const char* p, const char* end) {
  while (p != end && is_digit(*p)) ++p;
  return p;
}

// The pattern from_chars matches in the general format, which must span
// the whole text: digits with at most one point and at least one digit,
// then optionally an exponent, "e" or "E" with an optional sign and digits
// (an "e" without digits is not part of the pattern, so it is left over).
bool is_whole_decimal(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  const char* const integer_end = skip_digits(p, end);
  bool has_digits = integer_end != p;
  p = integer_end;
  if (p != end && *p == '.') {
    const char* const fraction_end = skip_digits(p + 1, end);
    has_digits |= fraction_end != p + 1;
    p = fraction_end;
  }
  if (!has_digits) return false;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* const exponent_end = skip_digits(p, end);
    if (exponent_end == p) return false;
    p = exponent_end;
  }
  return p == end;
}

}  // namespace

std::string_view cell_error_text(CellError error) {
  switch (error) {
    case CellError::EmptyInteger:
      return "cannot parse integer from empty string";
    case CellError::InvalidDigit:
      return "invalid digit found in string";
    case CellError::IntegerTooLarge:
      return "number too large to fit in target type";
    case CellError::EmptyFloat:
      return "cannot parse float from empty string";
    case CellError::InvalidFloat:
      return "invalid float literal";
    case CellError::InvalidBool:
      return "provided string was not `true` or `false`";
  }
  return "unknown cell error";
}

namespace detail {

std::expected<std::uint64_t, CellError> parse_any_rank(std::string_view cell) {
  if (cell.empty()) return std::unexpected(CellError::EmptyInteger);
  std::string_view digits = cell;
  int base = 10;
  if (cell.starts_with("0x")) {
    digits.remove_prefix(2);
    base = 16;
    if (digits.empty()) return std::unexpected(CellError::EmptyInteger);
  } else if (cell[0] == '+') {
    digits.remove_prefix(1);
    if (digits.empty()) return std::unexpected(CellError::InvalidDigit);
  }
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  // An overflow inside the leading run of digits is reported before any
  // invalid character that follows the run.
  if (ec == std::errc::result_out_of_range) return std::unexpected(CellError::IntegerTooLarge);
  if (ec != std::errc{} || end != digits.data() + digits.size()) {
    return std::unexpected(CellError::InvalidDigit);
  }
  return value;
}

}  // namespace detail

std::expected<double, CellError> parse_float(std::string_view cell) {
  if (cell.empty()) return std::unexpected(CellError::EmptyFloat);
  const bool negative = cell[0] == '-';
  if (cell[0] == '+' || cell[0] == '-') cell.remove_prefix(1);
  auto value = parse_unsigned_float(cell);
  if (value && negative) *value = -*value;
  return value;
}

std::optional<CellError> detail::check_any_float(std::string_view cell) {
  if (cell.empty()) return CellError::EmptyFloat;
  if (cell[0] == '+' || cell[0] == '-') cell.remove_prefix(1);
  if (starts_decimal(cell)) {
    if (is_whole_decimal(cell)) return std::nullopt;
  } else if (is_infinity_word(cell) || equals_ignoring_case(cell, "nan")) {
    return std::nullopt;
  }
  return CellError::InvalidFloat;
}

std::expected<bool, CellError> parse_lenient_label(std::string_view cell) {
  // pandas writes a label column that holds a missing value as floats.
  if (cell == "1" || cell == "1.0") return true;
  if (cell == "0" || cell == "0.0") return false;
  if (equals_ignoring_case(cell, "true")) return true;
  if (equals_ignoring_case(cell, "false")) return false;
  return std::unexpected(CellError::InvalidBool);
}

}  // namespace ferolin::table
