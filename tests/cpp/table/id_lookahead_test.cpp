#include "core/table/id_lookahead.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace ferolin::table {
namespace {

// The byte offsets where each record of `text` begins, one record a line.
std::vector<std::size_t> line_starts(std::string_view text) {
  std::vector<std::size_t> starts{0};
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n') starts.push_back(at + 1);
  }
  return starts;
}

// Walks a table record by record as the summaries do, the id in the second
// field: each call names the record kDistance lines on, until the bytes run
// out, and nothing for a repeat of the id it named last.
TEST(IdLookaheadTest, NamesTheIdOfTheRecordAhead) {
  std::string text;
  std::vector<std::string> ids;
  for (int i = 0; i < 100; ++i) {
    ids.push_back("q" + std::to_string(i / 2 == 20 ? 20 : i));  // records 40 and 41: one id
    text += "c," + ids.back() + ",1\r\n";
  }
  const std::vector<std::size_t> starts = line_starts(text);
  IdLookahead lookahead(1, ',');
  for (std::uint64_t record = 1; record <= ids.size(); ++record) {
    const std::string_view ahead = std::string_view(text).substr(starts[record]);
    const std::uint64_t target = record + IdLookahead::kDistance;
    std::string expected = target <= ids.size() ? ids[target - 1] : "";
    if (target == 42) expected.clear();
    EXPECT_EQ(lookahead.next(ahead, record), expected) << record;
  }
}

// Whatever the bytes, the calls skipped and the buffers reused, a hint lies
// within the bytes it was given.
TEST(IdLookaheadTest, StaysWithinTheBytesGiven) {
  std::mt19937_64 random(7);
  const std::string alphabet = "ab,\n\r\"";
  std::string buffer(4096, 'a');
  IdLookahead lookahead(2, ',');
  std::uint64_t record = 0;
  for (int round = 0; round < 20'000; ++round) {
    if (round % 500 == 0) {  // a new chunk in the same memory
      for (char& byte : buffer) byte = alphabet[random() % alphabet.size()];
    }
    const std::size_t begin = random() % buffer.size();
    const std::size_t size = random() % (buffer.size() - begin + 1);
    record += random() % 3;
    const std::string_view ahead(buffer.data() + begin, size);
    const std::string_view id = lookahead.next(ahead, record);
    if (id.empty()) continue;
    ASSERT_GE(id.data(), ahead.data());
    ASSERT_LE(id.data() + id.size(), ahead.data() + ahead.size());
  }
}

}  // namespace
}  // namespace ferolin::table
