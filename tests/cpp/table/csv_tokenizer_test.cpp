#include "core/table/csv_tokenizer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "reference/tokenized.h"

namespace ferolin::table {

void PrintTo(const RecordPosition& at, std::ostream* out) {
  *out << "{record " << at.record << ", line " << at.line << ", byte " << at.byte << "}";
}

namespace {

using reference::Tokenized;

// Feeds `bytes` to a tokenizer whole, or in chunks of `chunk` bytes.
Tokenized tokenize(std::string_view bytes, std::size_t chunk = 0) {
  CsvTokenizer tokenizer;
  return reference::tokenize(
      tokenizer, bytes,
      chunk == 0 ? std::vector<std::size_t>{} : reference::cuts_every(chunk, bytes.size()));
}

using Records = std::vector<std::vector<std::string>>;

TEST(CsvTokenizerTest, FieldsOfQuotingAndLineEndVariants) {
  const struct {
    std::string_view input;
    Records records;
  } cases[] = {
      {"a,b\nc,d\n", {{"a", "b"}, {"c", "d"}}},
      {"a,b\r\nc,d", {{"a", "b"}, {"c", "d"}}},
      {"a,b\rc,d\r", {{"a", "b"}, {"c", "d"}}},
      {"\"a,b\",\"c\"\"d\"\n", {{"a,b", "c\"d"}}},
      {"\"multi\nline\",\"x\r\ny\"\n", {{"multi\nline", "x\r\ny"}}},
      {"\"\",x,\n", {{"", "x", ""}}},
      {",\n", {{"", ""}}},
      // A quote inside an unquoted field is an ordinary character.
      {"a\"b,a\"\"b,x\"\n", {{"a\"b", "a\"\"b", "x\""}}},
      // Nothing is trimmed, and a space before a quote makes the quote data.
      {"  ,a , b\t\n", {{"  ", "a ", " b\t"}}},
      {" \"a\",\" b \"\n", {{" \"a\"", " b "}}},
      {"\"a\"\r\n\"b\"", {{"a"}, {"b"}}},
      // Blank lines of every kind are skipped.
      {"\n\r\n\ra\n\n\r\n\rb\n\n", {{"a"}, {"b"}}},
      {"", {}},
      {"\n\r\n", {}},
      {"\xEF\xBB\xBF"
       "a,b\n",
       {{"a", "b"}}},
  };
  for (const auto& c : cases) {
    const Tokenized result = tokenize(c.input);
    EXPECT_EQ(result.error, "") << c.input;
    EXPECT_EQ(result.records, c.records) << c.input;
  }
}

TEST(CsvTokenizerTest, PositionsCountEveryLineBreakKindOnceAndIncludeTheBom) {
  const struct {
    std::string_view input;
    std::vector<RecordPosition> positions;
  } cases[] = {
      {"h1,h2\n\na,b\r\nc,d\re,f\n", {{0, 1, 0}, {1, 3, 7}, {2, 4, 12}, {3, 5, 16}}},
      {"h\n\"x\ny\r\nz\"\nw\n", {{0, 1, 0}, {1, 2, 2}, {2, 5, 11}}},
      {"\xEF\xBB\xBFh\r\n\r\nx", {{0, 1, 3}, {1, 3, 8}}},
      // A CR inside a quoted field and the LF that ends the record are two breaks.
      {"h\n\"a\rb\"\nz\n", {{0, 1, 0}, {1, 2, 2}, {2, 4, 8}}},
      // A CR, then other bytes, then an LF: two line breaks, not one CRLF.
      {"h\ra\nb\n", {{0, 1, 0}, {1, 2, 2}, {2, 3, 4}}},
      {"h\n\"x\ry\nz\"\nw\n", {{0, 1, 0}, {1, 2, 2}, {2, 5, 10}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tokenize(c.input).positions, c.positions) << c.input;
  }
}

TEST(CsvTokenizerTest, ErrorTextsCarryPositions) {
  const struct {
    std::string_view input;
    std::string_view error;
    std::size_t records_before;
  } cases[] = {
      {"a,b\nc\n",
       "CSV error: CSV error: record 1 (line: 2, byte: 4): found record with 1 "
       "fields, but the previous record has 2 fields",
       1},
      {"a,b\n\nc,d,e",
       "CSV error: CSV error: record 1 (line: 3, byte: 5): found record with 3 "
       "fields, but the previous record has 2 fields",
       1},
      {"a,b\n   \n",
       "CSV error: CSV error: record 1 (line: 2, byte: 4): found record with 1 "
       "fields, but the previous record has 2 fields",
       1},
      {"a,b\nc,\"x\xC3\xA9\xFFy\"\n",
       "CSV error: CSV parse error: record 1 (line 2, field: 1, "
       "byte: 4): invalid utf-8: invalid UTF-8 in field 1 near "
       "byte index 3",
       1},
      // A multi-byte character cut by a delimiter is invalid in both fields.
      {"\xC3,\xA9\n",
       "CSV error: CSV parse error: record 0 (line 1, field: 0, byte: 0): invalid "
       "utf-8: invalid UTF-8 in field 0 near byte index 0",
       0},
      {"\xEF\xBB"
       "a\n",
       "CSV error: CSV parse error: record 0 (line 1, field: 0, byte: 0): "
       "invalid utf-8: invalid UTF-8 in field 0 near byte index 0",
       0},
      {"a,b\n\"x\"y,z\nc,d\n",
       "CSV error: CSV parse error: record 1 (line 2, field: 0, byte: "
       "4): unexpected character after closing quote",
       1},
      {"a,b\nc,\"x\" \n",
       "CSV error: CSV parse error: record 1 (line 2, field: 1, byte: 4): "
       "unexpected character after closing quote",
       1},
      {"a,b\r\nc,\"open\nd,e\n",
       "CSV error: CSV parse error: record 1 (line 2, field: 1, "
       "byte: 5): quoted field not closed before end of file",
       1},
  };
  for (const auto& c : cases) {
    const Tokenized result = tokenize(c.input);
    EXPECT_EQ(result.error, c.error) << c.input;
    EXPECT_EQ(result.records.size(), c.records_before) << c.input;
  }
}

TEST(CsvTokenizerTest, FailureRepeatsOnEveryLaterCall) {
  CsvTokenizer tokenizer;
  tokenizer.supply("\"a\"b\n");
  const auto first = tokenizer.next();
  ASSERT_FALSE(first.has_value());
  const auto second = tokenizer.next();
  ASSERT_FALSE(second.has_value());
  EXPECT_EQ(second.error().message(), first.error().message());
}

// The records, positions and errors must not depend on where the input is
// cut into chunks: CRLF, BOM, quotes and doubled quotes split anywhere.
TEST(CsvTokenizerTest, ResultsDoNotDependOnChunkSize) {
  const std::string_view inputs[] = {
      "\xEF\xBB\xBFquery_id,\"a\"\"b\",c\r\n\r\n\"x\r\ny\",a\"b,\"\"\r\n1,2,3",
      "h1,h2\r\r\n\n\"q\"\"\"\"\",\"\"\n\xC3\xA9,\xE2\x82\xAC\r\n",
      "\xEF\xBB"
      "x\n",
      "\xEF",
      "a,b\n\"x\"y,z\n",
      "a,b\nc,\"open\r\n",
      "a,b\nc,d\xC3\n",
      "a,b\nc,d,e\n",
      "h\ra\nb\n\"c\rd\ne\"\n\"open",
  };
  for (const std::string_view input : inputs) {
    const Tokenized whole = tokenize(input);
    for (const std::size_t chunk : {1, 2, 3, 7}) {
      EXPECT_EQ(tokenize(input, chunk), whole) << "chunk " << chunk << ": " << input;
    }
  }
}

// A field over the limit fails wherever the chunks cut it, and one that
// never ends fails once twice the limit is read, not at the end; so does a
// record of short fields that never ends.
TEST(CsvTokenizerTest, FieldLimitRefusesLongFieldsWhateverTheChunks) {
  const std::string endless = "a,b\nc," + std::string(200000, 'x');
  std::string short_fields;
  for (int i = 0; i < 100; ++i) short_fields += "a,";
  const struct {
    std::string input;
    std::string_view error;  // empty: read whole
  } cases[] = {
      {"a,b\nc,12345678\n", ""},
      {"a,b\nc,123456789\n", "record 1 (line 2, field: 1, byte: 4): field longer than the limit"},
      {"a,b\nc,\"12345\"\"67\"\n", ""},  // 8 bytes once unescaped
      {"123456789,b\n", "record 0 (line 1, field: 0, byte: 0): field longer than the limit"},
      {endless, "record 1 (line 2, field: 1, byte: 4): field longer than the limit of 8 bytes"},
      {short_fields, "): record longer than the limit of 128"},
  };
  for (const auto& c : cases) {
    for (const std::size_t chunk : {0, 1, 3, 4096}) {
      CsvTokenizer tokenizer;
      tokenizer.limit_field_bytes(8);
      const Tokenized result = reference::tokenize(
          tokenizer, c.input,
          chunk == 0 ? std::vector<std::size_t>{} : reference::cuts_every(chunk, c.input.size()));
      EXPECT_EQ(result.error.empty(), c.error.empty()) << c.input << " " << chunk;
      EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    }
  }
}

// Skipping a field changes nothing but its text, however long it runs over
// the chunks: the kept fields, positions and errors (the byte index of
// invalid UTF-8 in a skipped field too) are those of a read keeping it; a
// skipped field has no limit, a kept one keeps it.
TEST(CsvTokenizerTest, SkippedFieldsChangeNothingButTheirText) {
  const std::string piece = "ab\"\"c\r\n\xC3\xA9\xE2\x82\xAC,\r\"\"\"\"\xF0\x9F\x98\x80\n";
  std::string text;
  while (text.size() < 40000) text += piece;
  const std::string quoted = "\"" + text + "\"";
  std::string plain;
  while (plain.size() < 40000) plain += "\xE2\x82\xAC" "xy\xC3\xA9";
  const std::string inputs[] = {
      "h0,h1,h2\n1," + quoted + ",3\r\n4," + quoted + ",6",
      "h0,h1,h2\n1," + plain + ",3\n4," + plain + ",\"\"\n",
      "h0,h1,h2\n1," + quoted.substr(0, 30001) + "\xFF" + quoted.substr(30001) + ",3\n",
      "h0,h1,h2\n1," + plain + "\xC3,3\n",
      "h0,h1,h2\n1," + quoted + ",\xFF\n",
      "h0,h1,h2\n1," + quoted + "x,3\n",
      "h0,h1,h2\n1," + quoted + "\n",
      "h0,h1,h2\n1," + quoted.substr(0, 20000),
  };
  const std::vector<bool> kept{true, false, true};
  for (const std::string& input : inputs) {
    for (const std::size_t chunk : {1, 7, 4096, 100000}) {
      const auto cuts = reference::cuts_every(chunk, input.size());
      CsvTokenizer all;
      const Tokenized want = reference::blank_skipped(reference::tokenize(all, input, cuts), kept);
      CsvTokenizer skipping;
      skipping.limit_field_bytes(16);
      skipping.keep_only_fields(kept);
      EXPECT_EQ(reference::blank_skipped(reference::tokenize(skipping, input, cuts), kept), want)
          << "chunk " << chunk << ": " << input.substr(0, 40);
    }
  }
  CsvTokenizer kept_long;
  kept_long.limit_field_bytes(16);
  kept_long.keep_only_fields({true, true});
  EXPECT_NE(reference::tokenize(kept_long, inputs[0], reference::cuts_every(7, inputs[0].size()))
                .error.find("record 1 (line 2, field: 1, byte: 9): field longer than the limit"),
            std::string::npos);
}

}  // namespace
}  // namespace ferolin::table
