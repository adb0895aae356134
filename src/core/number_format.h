// Text forms of 64-bit floats built from their shortest round-trip digits.
#pragma once

#include <string>

namespace ferolin {

// Returns the shortest decimal that reads back as `value`, never in exponent
// form and without a fraction for integral values: 0.8 -> "0.8", 1.0 -> "1",
// 1e-7 -> "0.0000001", 1e300 -> "1" and 300 zeros. NaN is "NaN", the
// infinities "inf" and "-inf".
[[nodiscard]] std::string format_plain_decimal(double value);

// Returns `value` (finite) as a JSON number in the shortest round-trip form:
// plain decimal keeping ".0" on integral values for 1e-5 <= |v| < 1e16
// ("1.0", "0.05", "0.00001"), otherwise exponent form without "+" or
// padding ("1e16", "1e-6", "1.7976931348623157e308", "5e-324").
[[nodiscard]] std::string format_json_number(double value);

}  // namespace ferolin
