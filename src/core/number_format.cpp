#include "core/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace ferolin {
namespace {

// A finite double as sign, shortest significant digits d1 d2 ... dk and the
// decimal exponent e of d1, so that |value| = d1.d2...dk * 10^e.
struct ShortestDigits {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

ShortestDigits shortest_digits(double value) {
  char buffer[64];
  // Scientific form with no precision gives the shortest round-trip digits.
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  (void)ec;  // 64 bytes always hold a double in scientific form.
  const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  ShortestDigits out;
  std::size_t i = 0;
  if (text[i] == '-') {
    out.negative = true;
    ++i;
  }
  const std::size_t e_pos = text.find('e');
  for (; i < e_pos; ++i) {
    if (text[i] != '.') out.digits += text[i];
  }
  std::from_chars(text.data() + e_pos + 1 + (text[e_pos + 1] == '+' ? 1 : 0),
                  text.data() + text.size(), out.exponent);
  return out;
}

// Lays the digits out without an exponent; `keep_point_zero` writes ".0" on
// integral values.
std::string plain_layout(const ShortestDigits& d, bool keep_point_zero) {
  std::string out = d.negative ? "-" : "";
  const int k = static_cast<int>(d.digits.size());
  if (d.exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    out += d.digits;
    return out;
  }
  const int integer_digits = d.exponent + 1;
  if (k <= integer_digits) {
    out += d.digits;
    out.append(static_cast<std::size_t>(integer_digits - k), '0');
    if (keep_point_zero) out += ".0";
    return out;
  }
  out.append(d.digits, 0, static_cast<std::size_t>(integer_digits));
  out += '.';
  out.append(d.digits, static_cast<std::size_t>(integer_digits));
  return out;
}

std::string exponent_layout(const ShortestDigits& d) {
  std::string out = d.negative ? "-" : "";
  out += d.digits[0];
  if (d.digits.size() > 1) {
    out += '.';
    out.append(d.digits, 1);
  }
  out += 'e';
  out += std::to_string(d.exponent);
  return out;
}

}  // namespace

std::string format_plain_decimal(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  return plain_layout(shortest_digits(value), /*keep_point_zero=*/false);
}

std::string format_json_number(double value) {
  const ShortestDigits d = shortest_digits(value);
  if (value == 0.0 || (d.exponent >= -5 && d.exponent < 16)) {
    return plain_layout(d, /*keep_point_zero=*/true);
  }
  return exponent_layout(d);
}

}  // namespace ferolin
