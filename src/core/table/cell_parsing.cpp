#include "core/table/cell_parsing.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstring>
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

std::expected<double, CellError> parse_unsigned_decimal(std::string_view text) {
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

// ---- whole words of a cell at once -------------------------------------------

constexpr std::uint64_t kHighBits = 0x8080808080808080;
constexpr std::uint64_t kLowBits = 0x7f7f7f7f7f7f7f7f;

constexpr std::uint64_t each_byte(unsigned char c) { return 0x0101010101010101 * c; }

// Reads bytes little-endian, so that byte i of the text is bits 8i to 8i + 7
// whatever the machine's byte order.
template <typename Word>
std::uint64_t load_le(const char* at) {
  Word word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

// Returns the high bit of every byte of `word` that is a digit. The low
// seven bits of a byte plus 0x50 reach 0x80 from '0' on, plus 0x46 from
// '9' + 1 on; neither sum carries into the next byte.
std::uint64_t digit_bytes(std::uint64_t word) {
  const std::uint64_t low = word & kLowBits;
  return (low + each_byte(0x80 - '0')) & ~(low + each_byte(0x7f - '9')) & ~word & kHighBits;
}

// Returns the high bit of every byte of `word` that equals `c`.
std::uint64_t bytes_equal(std::uint64_t word, unsigned char c) {
  const std::uint64_t x = word ^ each_byte(c);
  return ~(((x & kLowBits) + kLowBits) | x) & kHighBits;
}

// For texts of 4 to 24 bytes, almost every number in a table: returns
// whether all bytes are digits but at most one point, or nothing when other
// bytes occur (a sign, an exponent, a word) and the grammar must decide.
// Words overlap where the length is not a multiple of 8; `own` masks the
// bytes a word adds, so that a point in an overlap counts once.
std::optional<bool> digits_with_one_point(std::string_view text) {
  const std::size_t n = text.size();
  if (n < 4 || n > 24) return std::nullopt;
  const char* p = text.data();
  bool plain = true;
  bool many_points = false;
  int words_with_point = 0;
  const auto take = [&](std::uint64_t word, std::uint64_t own) {
    const std::uint64_t points = bytes_equal(word, '.');
    plain &= (digit_bytes(word) | points) == kHighBits;
    const std::uint64_t counted = points & own;
    many_points |= (counted & (counted - 1)) != 0;
    words_with_point += counted != 0;
  };
  if (n < 8) {
    // Bytes 0-3 and n-4 to n-1 as one word; the upper half repeats 8 - n bytes.
    const std::uint64_t own =
        n == 4 ? 0xffffffff : 0xffffffff | ~std::uint64_t{0} << (8 * (12 - n));
    take(load_le<std::uint32_t>(p) | load_le<std::uint32_t>(p + n - 4) << 32, own);
  } else {
    std::size_t at = 0;
    for (; at + 8 <= n; at += 8) take(load_le<std::uint64_t>(p + at), ~std::uint64_t{0});
    // The last word ends the text; its first at - (n - 8) bytes were taken.
    if (at < n) take(load_le<std::uint64_t>(p + n - 8), ~std::uint64_t{0} << (8 * (at + 8 - n)));
  }
  if (!plain) return std::nullopt;
  return !many_points && words_with_point <= 1;
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

std::expected<std::uint64_t, CellError> parse_rank(std::string_view cell) {
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

std::expected<double, CellError> parse_float(std::string_view cell) {
  if (cell.empty()) return std::unexpected(CellError::EmptyFloat);
  const bool negative = cell[0] == '-';
  if (cell[0] == '+' || cell[0] == '-') cell.remove_prefix(1);
  auto value = parse_unsigned_float(cell);
  if (value && negative) *value = -*value;
  return value;
}

std::optional<CellError> check_float(std::string_view cell) {
  if (cell.empty()) return CellError::EmptyFloat;
  if (cell[0] == '+' || cell[0] == '-') cell.remove_prefix(1);
  if (const auto plain = digits_with_one_point(cell)) {
    return *plain ? std::nullopt : std::optional(CellError::InvalidFloat);
  }
  if (starts_decimal(cell)) {
    if (is_whole_decimal(cell)) return std::nullopt;
  } else if (is_infinity_word(cell) || equals_ignoring_case(cell, "nan")) {
    return std::nullopt;
  }
  return CellError::InvalidFloat;
}

std::expected<bool, CellError> parse_bool(std::string_view cell) {
  if (cell == "true") return true;
  if (cell == "false") return false;
  return std::unexpected(CellError::InvalidBool);
}

std::expected<bool, CellError> parse_label(std::string_view cell, LabelSpelling spelling) {
  if (spelling == LabelSpelling::Exact) return parse_bool(cell);
  if (cell == "1") return true;
  if (cell == "0") return false;
  const auto equals_folded = [cell](std::string_view lower) {
    return std::ranges::equal(cell, lower, [](char a, char b) {
      return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
  };
  if (equals_folded("true")) return true;
  if (equals_folded("false")) return false;
  return std::unexpected(CellError::InvalidBool);
}

}  // namespace ferolin::table
