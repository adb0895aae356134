#include "core/table/cell_parsing.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>

namespace ferolin::table {
namespace {

constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMaxDouble = std::numeric_limits<double>::max();
constexpr double kMinSubnormal = std::numeric_limits<double>::denorm_min();

TEST(CellParsingTest, RankAcceptsDecimalWithPlusAndLowercaseHexPrefix) {
  const struct {
    std::string_view cell;
    std::uint64_t value;
  } cases[] = {
      {"0", 0},
      {"7", 7},
      {"+7", 7},
      {"007", 7},
      {"0x1F", 31},
      {"0x1f", 31},
      {"0x0", 0},
      {"18446744073709551615", kMaxU64},
      {"0xFFFFFFFFFFFFFFFF", kMaxU64},
      {"0x00000000000000000000001", 1},
  };
  for (const auto& c : cases) {
    const auto value = parse_rank(c.cell);
    ASSERT_TRUE(value.has_value()) << c.cell;
    EXPECT_EQ(*value, c.value) << c.cell;
  }
}

TEST(CellParsingTest, RankRefusals) {
  const struct {
    std::string_view cell;
    CellError error;
  } cases[] = {
      {"", CellError::EmptyInteger},
      {"0x", CellError::EmptyInteger},
      {"+", CellError::InvalidDigit},
      {"-1", CellError::InvalidDigit},
      {"-0", CellError::InvalidDigit},
      {"1.0", CellError::InvalidDigit},
      {"0X1F", CellError::InvalidDigit},
      {"0x+1", CellError::InvalidDigit},
      {"0x-1", CellError::InvalidDigit},
      {"+0x1", CellError::InvalidDigit},
      {"++1", CellError::InvalidDigit},
      {" 1", CellError::InvalidDigit},
      {"1 ", CellError::InvalidDigit},
      {"1e3", CellError::InvalidDigit},
      {"0x1G", CellError::InvalidDigit},
      {"18446744073709551616", CellError::IntegerTooLarge},
      {"0x10000000000000000", CellError::IntegerTooLarge},
      // The overflow lies before the bad character, so it is reported.
      {"99999999999999999999x", CellError::IntegerTooLarge},
      {"x99999999999999999999", CellError::InvalidDigit},
  };
  for (const auto& c : cases) {
    const auto value = parse_rank(c.cell);
    ASSERT_FALSE(value.has_value()) << c.cell;
    EXPECT_EQ(value.error(), c.error) << c.cell;
  }
}

TEST(CellParsingTest, FloatValuesAreCorrectlyRounded) {
  const struct {
    std::string_view cell;
    double value;
  } cases[] = {
      {"0.5", 0.5},
      {"-0.5", -0.5},
      {"+1.5", 1.5},
      {".5", 0.5},
      {"5.", 5.0},
      {"-.5", -0.5},
      {"1e3", 1000.0},
      {"1E+3", 1000.0},
      {"25e-1", 2.5},
      {"0.1", 0.1},
      {"007.25", 7.25},
      {"inf", kInf},
      {"+INF", kInf},
      {"-Infinity", -kInf},
      {"iNfInItY", kInf},
      {"1.7976931348623158e308", kMaxDouble},
      {"1.7976931348623159e308", kInf},
      {"1e400", kInf},
      {"-1e400", -kInf},
      {"0.01e311", kInf},
      {"1e99999999999999999999999", kInf},
      {"1e-400", 0.0},
      {"100e-326", 0.0},
      {"1000e-326", 1000e-326},
      {"2.4703282292062327e-324", 0.0},
      {"2.4703282292062328e-324", kMinSubnormal},
      {"4.9e-324", kMinSubnormal},
      {"1e-310", 1e-310},
      {"0e999999", 0.0},
  };
  for (const auto& c : cases) {
    const auto value = parse_float(c.cell);
    ASSERT_TRUE(value.has_value()) << c.cell;
    EXPECT_EQ(*value, c.value) << c.cell;
  }
  // The sign survives an underflow to zero.
  EXPECT_TRUE(std::signbit(*parse_float("-1e-400")));
  EXPECT_FALSE(std::signbit(*parse_float("1e-400")));
}

// Short plain decimals take a quicker road than std::from_chars; the value
// must be the same, bit for bit, up to and past the road's 15 digits.
TEST(CellParsingTest, ShortDecimalsConvertAsFromChars) {
  std::mt19937_64 rng(7);
  std::string cell;
  for (int i = 0; i < 1'000'000; ++i) {
    const std::size_t digits = 1 + rng() % 17;
    cell.clear();
    for (std::size_t d = 0; d < digits; ++d) cell.push_back(static_cast<char>('0' + rng() % 10));
    if (rng() % 4 != 0) cell.insert(rng() % (digits + 1), 1, '.');
    double expected = 0.0;
    std::from_chars(cell.data(), cell.data() + cell.size(), expected);
    const auto got = parse_float(cell);
    ASSERT_TRUE(got.has_value()) << cell;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(expected)) << cell;
  }
}

TEST(CellParsingTest, FloatNanInAnyCaseWithSign) {
  for (const std::string_view cell : {"nan", "NaN", "NAN", "+nan", "-NaN"}) {
    const auto value = parse_float(cell);
    ASSERT_TRUE(value.has_value()) << cell;
    EXPECT_TRUE(std::isnan(*value)) << cell;
  }
}

TEST(CellParsingTest, FloatRefusals) {
  EXPECT_EQ(parse_float("").error(), CellError::EmptyFloat);
  for (const std::string_view cell :
       {"+",      "-",     ".",       "e5",        "1e",    "1e+", "1.5e-",   "0x1p3", "0x10",
        "nan(1)", "nan()", "infinit", "infinityy", "in",    " 1",  "1 ",      "+-1",   "-+1",
        "--1",    "1,5",   "1_000",   "1.2.3",     "1e5e5", "one", "\xC2\xBD"}) {
    const auto value = parse_float(cell);
    ASSERT_FALSE(value.has_value()) << cell;
    EXPECT_EQ(value.error(), CellError::InvalidFloat) << cell;
  }
}

// check_float must give parse_float's verdict on every text: all texts of
// up to 5 characters over an alphabet that reaches every branch of the
// grammar, then longer texts built from its pieces.
TEST(CellParsingTest, CheckFloatAgreesWithParseFloat) {
  const auto agree = [](const std::string& cell) {
    const auto parsed = parse_float(cell);
    const auto checked = check_float(cell);
    return parsed ? !checked : checked && *checked == parsed.error();
  };
  constexpr std::string_view kAlphabet = "019.eE+-infatyNx ";
  std::size_t checked = 0;
  std::string cell;
  const auto all_of_length = [&](auto& self, std::size_t length) -> void {
    if (cell.size() == length) {
      ASSERT_TRUE(agree(cell)) << '"' << cell << '"';
      ++checked;
      return;
    }
    for (const char c : kAlphabet) {
      cell.push_back(c);
      self(self, length);
      cell.pop_back();
    }
  };
  for (std::size_t length = 0; length <= 5; ++length) all_of_length(all_of_length, length);
  EXPECT_GT(checked, 1'000'000u);

  // Digits of every length up to 26 with one or two points anywhere, or one
  // other byte anywhere: the whole-word path and its edges.
  for (std::size_t length = 1; length <= 26; ++length) {
    const std::string digits = std::string("1234567890123456789012345678").substr(0, length);
    for (std::size_t i = 0; i < length; ++i) {
      for (const char c : std::string_view(".e+-x \x80\xff/:", 10)) {
        cell = digits;
        cell[i] = c;
        ASSERT_TRUE(agree(cell)) << '"' << cell << '"';
        for (std::size_t j = i + 1; j < length; ++j) {
          cell[j] = '.';
          ASSERT_TRUE(agree(cell)) << '"' << cell << '"';
          cell[j] = digits[j];
        }
      }
    }
  }

  constexpr std::string_view kPieces[] = {
      "0", "7",    "12345678901234567", "000", ".", "e", "E", "+", "-", "inf", "inity", "nan",
      "x", "1e400"};
  std::mt19937 rng(11);
  for (int i = 0; i < 200'000; ++i) {
    cell.clear();
    for (int n = static_cast<int>(rng() % 8); n >= 0; --n) cell += kPieces[rng() % 14];
    ASSERT_TRUE(agree(cell)) << '"' << cell << '"';
  }
}

TEST(CellParsingTest, BoolIsExactlyTrueOrFalse) {
  EXPECT_EQ(parse_bool("true"), true);
  EXPECT_EQ(parse_bool("false"), false);
  for (const std::string_view cell : {"True", "FALSE", "1", "0", "yes", "", " true", "true "}) {
    EXPECT_EQ(parse_bool(cell).error(), CellError::InvalidBool) << cell;
  }
}

}  // namespace
}  // namespace ferolin::table
