#include "core/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace ferolin {
namespace {

TEST(NumberFormatTest, PlainDecimalNeverUsesExponent) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    std::string text;
  } cases[] = {
      {0.8, "0.8"},
      {1.0, "1"},
      {0.0, "0"},
      {-0.0, "-0"},
      {0.85, "0.85"},
      {0.8995, "0.8995"},
      {-2.5, "-2.5"},
      {1e-7, "0.0000001"},
      {123456.789, "123456.789"},
      {1e23, "1" + std::string(23, '0')},
      {1e300, "1" + std::string(300, '0')},
      {5e-324, "0." + std::string(323, '0') + "5"},
      {std::nan(""), "NaN"},
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_plain_decimal(c.value), c.text) << c.text;
}

TEST(NumberFormatTest, JsonNumberLayout) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1.0, "1.0"},
      {0.05, "0.05"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1000000000000000.0, "1000000000000000.0"},
      {0.00001, "0.00001"},
      {1e16, "1e16"},
      {1e-6, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {-2.5e20, "-2.5e20"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {5e-324, "5e-324"},
      {0.1 + 0.2, "0.30000000000000004"},
      {123.0, "123.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_json_number(c.value), c.text) << c.text;
}

}  // namespace
}  // namespace ferolin
