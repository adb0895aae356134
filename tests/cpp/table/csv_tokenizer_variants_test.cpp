// Every scan variant the processor runs against the libcsv reference
// tokenizer: the same records, fields, positions and errors, wherever the
// input is cut into chunks.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/table/csv_tokenizer.h"
#include "reference/libcsv_tokenizer.h"
#include "reference/tokenized.h"

namespace ferolin::table {
namespace {

using reference::cuts_every;
using reference::LibcsvTokenizer;
using reference::Tokenized;

Tokenized expected(std::string_view input, char separator) {
  LibcsvTokenizer tokenizer(separator);
  return reference::tokenize(tokenizer, input);
}

Tokenized ours(std::string_view input, char separator, ScanVariant variant,
               const std::vector<std::size_t>& cuts) {
  CsvTokenizer tokenizer(separator, variant);
  return reference::tokenize(tokenizer, input, cuts);
}

// Returns `text` after `offset` bytes of plain data, which puts its bytes on
// either side of a 64-byte block boundary of the scan.
std::string at_offset(std::size_t offset, std::string_view text) {
  return "a" + std::string(offset - 1, 'x') + std::string(text);
}

std::vector<std::string> tricky_inputs() {
  std::vector<std::string> inputs = {
      "a,b\nc,d\n",
      "a,b\r\nc,d",
      "a,b\rc,d\r",
      "\"a,b\",\"c\"\"d\"\n\"\"\"\"\n",
      "\"multi\nline\",\"x\r\ny\"\n\"cr\rlf\",\"\r\n\"\n",
      "\"\",x,\n,\n\"\"\n",
      "a\"b,a\"\"b,x\"\n\"q\"\"\",\"\"\"\"\n",
      "  ,a , b\t\n \"a\",\" b \"\n",
      "\n\r\n\ra\n\n\r\n\rb\n\n",
      "\xEF\xBB\xBFh1,h2\r\n\r\n\"x\r\ny\",a\"b\r\n1,2",
      "\xEF\xBB"
      "a\n",
      "\xEF",
      "\xEF\xBB\xBF",
      "h\ra\nb\n\"c\rd\ne\"\n",
      "\xC3\xA9,\xE2\x82\xAC\n\"\xF0\x9F\x98\x80\"\"\",x\n",
      "a\0b,\0\n",
      // Errors.
      "a,b\nc\n",
      "a,b\n\nc,d,e",
      "a,b\nc,\"x\xC3\xA9\xFFy\"\n",
      "a,b\n\"\xC3\"\"\xA9\",z\n",
      "\xC3,\xA9\n",
      "a,b\n\"x\"y,z\nc,d\n",
      "a,b\nc,\"x\" \n",
      "a,b\r\nc,\"open\nd,e\n",
      "a,b\n\"",
      "a,b\nc,\"\"\"",
      "h\nx\n\"open",
      "a,b\n\"x\"\"y\"z,w\n",
  };
  // The same bytes on either side of a block boundary.
  for (const std::size_t offset : {62, 63, 64, 65}) {
    inputs.push_back(at_offset(offset, ",\"q\"\"\",x\r\ny,\"\",z\n"));
    inputs.push_back(at_offset(offset, "\r\n\"a\nb\",c\r\n"));
    inputs.push_back(at_offset(offset, "q\"b,c\nd,e\n"));
    inputs.push_back(at_offset(offset, ",\"x\"y\n"));
    inputs.push_back(at_offset(offset, "\xE2\x82\xAC,\xC3\n"));
  }
  return inputs;
}

// A table of quoted and plain fields: separators, doubled quotes and line
// breaks inside quoted fields, quotes inside plain ones, non-ASCII text,
// blank lines, every kind of line end, and now and then a field longer than
// a window of the scan.
std::string random_table(std::uint32_t seed, std::size_t rows, char separator) {
  std::mt19937 random(seed);
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  const std::string_view pieces[] = {
      "abc", "x", "0.25", "\xC3\xA9", "\xE2\x82\xAC", "q\"t", "\"\"", "\r\n", "\n", "\r", " "};
  const std::string_view line_ends[] = {"\n", "\r\n", "\r"};
  std::string out;
  for (std::size_t row = 0; row < rows; ++row) {
    if (pick(20) == 0) out += line_ends[pick(3)];
    for (std::size_t column = 0; column < 6; ++column) {
      if (column > 0) out += separator;
      const bool quoted = pick(4) == 0;
      const std::size_t length = pick(300) == 0 ? 5000 : pick(6);
      if (quoted) out += '"';
      for (std::size_t i = 0; i < length; ++i) {
        std::string_view piece = pieces[pick(std::size(pieces))];
        if (!quoted && (piece == "\"\"" || piece.find_first_of("\r\n") != piece.npos)) piece = "y";
        if (quoted && piece == "q\"t") piece = "\"\"";
        out += piece;
        if (quoted && pick(8) == 0) out += separator;
      }
      if (quoted) out += '"';
    }
    out += line_ends[pick(3)];
  }
  return out;
}

class CsvTokenizerVariantTest : public ::testing::TestWithParam<ScanVariant> {};

TEST_P(CsvTokenizerVariantTest, MatchesTheReferenceWhereverTheInputIsCut) {
  for (const std::string& input : tricky_inputs()) {
    for (const char separator : {',', '\t', ';'}) {
      const Tokenized want = expected(input, separator);
      EXPECT_EQ(ours(input, separator, GetParam(), {}), want) << input;
      EXPECT_EQ(ours(input, separator, GetParam(), cuts_every(1, input.size())), want) << input;
      for (std::size_t cut = 1; cut < input.size(); ++cut) {
        EXPECT_EQ(ours(input, separator, GetParam(), {cut}), want)
            << "cut " << cut << ": " << input;
      }
      if (input.size() > 24) continue;
      for (std::size_t first = 1; first < input.size(); ++first) {
        for (std::size_t second = first + 1; second < input.size(); ++second) {
          EXPECT_EQ(ours(input, separator, GetParam(), {first, second}), want)
              << "cuts " << first << ", " << second << ": " << input;
        }
      }
    }
  }
}

TEST_P(CsvTokenizerVariantTest, LongTablesMatchTheReference) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    const char separator = ",\t;"[seed % 3];
    std::string table = random_table(seed, 1500, separator);
    // Half of the tables carry one more byte near the end: a quote (an
    // error after a closing quote, data elsewhere) or a byte that is never
    // UTF-8.
    if (seed % 2 == 0) table.insert(table.size() - 40, seed % 4 == 0 ? "\"" : "\xFF");
    const Tokenized want = expected(table, separator);
    if (seed % 4 == 2) {
      EXPECT_NE(want.error, "");
    }
    for (const std::size_t chunk : {table.size(), std::size_t{1} << 16, std::size_t{4093}}) {
      EXPECT_EQ(ours(table, separator, GetParam(), cuts_every(chunk, table.size())), want)
          << "seed " << seed << ", chunks of " << chunk;
    }
  }
}

TEST(CsvTokenizerTest, RefusesSeparatorsThatCannotSeparate) {
  for (const char separator : {'"', '\r', '\n', '\0', '\xE9'}) {
    CsvTokenizer tokenizer(separator);
    tokenizer.supply("a,b\n");
    const auto step = tokenizer.next();
    ASSERT_FALSE(step.has_value()) << int{separator};
    EXPECT_EQ(step.error().message(),
              "CSV error: the separator must be an ASCII character other than NUL, the double "
              "quote, CR and LF");
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, CsvTokenizerVariantTest,
                         ::testing::ValuesIn(supported_scan_variants()), [](const auto& info) {
                           return std::string(scan_variant_name(info.param));
                         });

}  // namespace
}  // namespace ferolin::table
