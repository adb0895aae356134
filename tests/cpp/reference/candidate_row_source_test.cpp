#include "reference/candidate_row_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferolin::reference {
namespace {

// A row copied out of the source, so that rows of different reads compare.
struct OwnedRow {
  std::string query_id, candidate_id;
  std::uint64_t rank = 0;
  std::string score;  // as text, so that NaN compares equal to NaN
  std::optional<std::string> probability, smiles;
  std::optional<bool> is_correct;
  std::uint64_t line = 0, byte = 0;

  friend bool operator==(const OwnedRow&, const OwnedRow&) = default;
};

struct Outcome {
  std::vector<OwnedRow> rows;
  std::string error;

  friend bool operator==(const Outcome&, const Outcome&) = default;
};

CandidateRowSource::ChunkReader chunks_of(std::string_view bytes, std::size_t chunk) {
  return [bytes, chunk, offset = std::size_t{0}]() mutable -> Result<std::string_view> {
    const std::size_t size = std::min(chunk, bytes.size() - offset);
    offset += size;
    return bytes.substr(offset - size, size);
  };
}

Outcome read_rows(std::string_view bytes, std::size_t chunk) {
  Outcome out;
  auto source = CandidateRowSource::from_chunks(chunks_of(bytes, chunk));
  if (!source) {
    out.error = source.error().message();
    return out;
  }
  while (true) {
    const auto row = source->next();
    if (!row) {
      out.error = row.error().message();
      return out;
    }
    if (*row == nullptr) return out;
    const CandidateRow& r = **row;
    out.rows.push_back(
        {std::string(r.query_id), std::string(r.candidate_id), r.rank, std::to_string(r.score),
         r.probability ? std::optional(std::to_string(*r.probability)) : std::nullopt,
         r.smiles ? std::optional(std::string(*r.smiles)) : std::nullopt, r.is_correct,
         source->position().line, source->position().byte});
  }
}

TEST(CandidateRowSourceTest, RowsDoNotDependOnChunkSize) {
  const std::string_view tables[] = {
      "\xEF\xBB\xBFquery_id,candidate_id,rank,score,probability,smiles,is_correct\r\n"
      "\"q\"\"1\",c\"1,0x1f,-inf,,\"C\r\nC\",true\r\n\r\n"
      "\xC3\xA9,\"\",+2,.5,nan,,\r"
      "q,c,3,5.,1e-400,\"\"\"\",false",
      "query_id,candidate_id,rank,score\nq,c,1,1\nq,c,2,x\n",
      "query_id,candidate_id,rank,score\nq,c,1,1\nq,\"c\n",
      "query_id,candidate_id,rank,score\r\nq,c,1,1\r\nq,\"c\"x,1,1\r\n",
      "query_id,candidate_id,rank\xFF,score\n",
      "query_id,candidate_id,score\n",
  };
  for (const std::string_view table : tables) {
    const Outcome whole = read_rows(table, 1 << 16);
    for (const std::size_t chunk : {1, 7}) {
      EXPECT_EQ(read_rows(table, chunk), whole) << "chunk " << chunk << ": " << table;
    }
  }
  EXPECT_EQ(read_rows(tables[0], 1 << 16).rows.size(), 3u);
}

TEST(CandidateRowSourceTest, EndAndFailureRepeat) {
  auto source = CandidateRowSource::from_chunks(
      chunks_of("query_id,candidate_id,rank,score\nq,c,1,1\n", 1 << 16));
  ASSERT_TRUE(source.has_value());
  ASSERT_NE(*source->next(), nullptr);
  EXPECT_EQ(*source->next(), nullptr);
  EXPECT_EQ(*source->next(), nullptr);

  auto failing = CandidateRowSource::from_chunks(
      chunks_of("query_id,candidate_id,rank,score\nq,c,-1,1\nq,c,1,1\n", 1 << 16));
  ASSERT_TRUE(failing.has_value());
  const auto first = failing->next();
  ASSERT_FALSE(first.has_value());
  const auto second = failing->next();
  ASSERT_FALSE(second.has_value());
  EXPECT_EQ(second.error().message(), first.error().message());
}

TEST(CandidateRowSourceTest, ReadFailureIsReportedAsCsvError) {
  int calls = 0;
  auto source = CandidateRowSource::from_chunks([&]() -> Result<std::string_view> {
    if (calls++ == 0) return "query_id,candidate_id,rank,score\nq,c,1,1\n";
    return std::unexpected(FerolinError::csv(os_error_text(5)));
  });
  ASSERT_TRUE(source.has_value());
  ASSERT_TRUE(source->next().has_value());
  const auto row = source->next();
  ASSERT_FALSE(row.has_value());
  EXPECT_EQ(row.error().message(), "CSV error: Input/output error (os error 5)");
}

}  // namespace
}  // namespace ferolin::reference
