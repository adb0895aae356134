#include "core/table/checked_row_source.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <string_view>

#include "reference/candidate_row_source.h"

namespace ferolin::table {
namespace {

TableRecords::ChunkReader whole(std::string_view bytes) {
  return [bytes, done = false]() mutable -> Result<std::string_view> {
    if (done) return std::string_view();
    done = true;
    return bytes;
  };
}

// The first failure of reading every row, or "" when there is none.
template <typename Source>
std::string first_failure(Result<Source> source) {
  if (!source) return source.error().message();
  while (true) {
    const auto row = source->next();
    if (!row) return row.error().message();
    if (*row == nullptr) return "";
  }
}

// Only the rank and the label are converted at once, yet every record fails
// as it does where every cell is converted: the same text, naming the
// leftmost bad field of the first bad record, whatever the caller converts.
TEST(CheckedRowSourceTest, FailsAsTheConvertingSource) {
  const char* const kTables[] = {
      // Several bad cells in one record: the leftmost is named.
      "query_id,candidate_id,rank,score,probability,is_correct\nq,c,1,0.5,0.5,true\n"
      "q,c,x,1e,0x1,True\n",
      "query_id,candidate_id,score,probability,is_correct,rank\nq,c,1e,.,maybe,1\n",
      "is_correct,probability,score,rank,query_id,candidate_id\nyes,1,1,1,q,c\n",
      "query_id,candidate_id,rank,score,probability\nq,c,1,1,--1\n",
      "query_id,candidate_id,rank,score,probability\nq,c,1,1,\nq,c,2,+.e1,1\n",
      "query_id,candidate_id,rank,score\nq,c,18446744073709551616,1\n",
      "query_id,candidate_id,rank,score\nq,c,,1\n",
      "query_id,candidate_id,rank,score\nq,c,1,\n",
      // A column named twice fails every record, after the fields before it.
      "query_id,candidate_id,score,rank,score\nq,c,1,1,1\n",
      "query_id,candidate_id,score,rank,score\nq,c,1,nope,1\n",
      "query_id,score,candidate_id,score,rank\nq,1,c,1,x\n",
      // Texts are never converted, so no cell of theirs fails.
      "query_id,candidate_id,rank,score,smiles,is_correct\n,,1,1,,\n",
  };
  for (const char* table : kTables) {
    const std::string expected = first_failure(reference::CandidateRowSource::from_chunks(whole(table)));
    for (const bool every_probability : {false, true}) {
      const RowNeeds needs{.candidate_id = every_probability,
                           .every_probability = every_probability};
      EXPECT_EQ(first_failure(CheckedRowSource::from_chunks(whole(table), std::nullopt, {}, needs)),
                expected)
          << table;
    }
  }
}

// Values asked for come from the checked cells as the converting source
// gives them.
TEST(CheckedRowSourceTest, ValuesOnDemand) {
  auto source = CheckedRowSource::from_chunks(
      whole("probability,score,rank,query_id,candidate_id,is_correct\n"
            "0.1000000000000000055511151231257827021181583404541015625,-inf,0x1F,q,c,false\n"
            ",1e400,+7,q,d,\n"),
      std::nullopt, {}, {.candidate_id = true});
  ASSERT_TRUE(source.has_value());
  const auto first = source->next();
  ASSERT_TRUE(first.has_value() && *first != nullptr);
  EXPECT_EQ((*first)->rank, 31u);
  EXPECT_EQ((*first)->score_value(), -std::numeric_limits<double>::infinity());
  EXPECT_EQ((*first)->probability_value(), 0.1);
  EXPECT_EQ((*first)->is_correct, false);
  EXPECT_EQ((*first)->candidate_id, "c");
  const auto second = source->next();
  ASSERT_TRUE(second.has_value() && *second != nullptr);
  EXPECT_EQ((*second)->rank, 7u);
  EXPECT_EQ((*second)->score_value(), std::numeric_limits<double>::infinity());
  EXPECT_EQ((*second)->probability_value(), std::nullopt);
  EXPECT_EQ((*second)->is_correct, std::nullopt);
  EXPECT_EQ(*source->next(), nullptr);
}

}  // namespace
}  // namespace ferolin::table
