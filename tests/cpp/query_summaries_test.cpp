#include "core/scoring/query_summaries.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/scoring/dispatch.h"
#include "query_builders.h"

namespace ferolin::scoring {
namespace {

table::CandidateRow row(std::string_view query_id, std::string_view candidate_id,
                        std::uint64_t rank) {
  table::CandidateRow r;
  r.query_id = query_id;
  r.candidate_id = candidate_id;
  r.rank = rank;
  return r;
}

std::vector<std::string> ids_of(const std::vector<KeyedSummary>& summaries) {
  std::vector<std::string> ids;
  for (const KeyedSummary& s : summaries) ids.push_back(s.query_id);
  return ids;
}

TEST(QuerySummariesTest, SortedByRawBytes) {
  QuerySummaries builder(TopIds::Drop);
  for (const char* id : {"2", "\xc3\xa9", "q1", "10", "z", "Q1", "1", "", "10"}) {
    builder.add(row(id, "c", 1));
  }
  EXPECT_EQ(builder.size(), 8u);
  const std::vector<std::string> expected = {"", "1", "10", "2", "Q1", "q1", "z", "\xc3\xa9"};
  EXPECT_EQ(ids_of(builder.take_sorted()), expected);
  EXPECT_EQ(builder.size(), 0u);
}

// Long shared prefixes, embedded and trailing NUL bytes, and bytes above
// 0x7f: the order is that of std::string, whatever the key lengths.
TEST(QuerySummariesTest, SortedByRawBytesAtAnyLength) {
  std::mt19937 rng(5);
  std::set<std::string> expected;
  QuerySummaries builder(TopIds::Drop);
  for (int i = 0; i < 3000; ++i) {
    std::string id(static_cast<std::size_t>(rng() % 20) + (rng() % 2 == 0 ? 20 : 0), 'a');
    for (char& c : id) c = rng() % 16 != 0 ? 'a' : "\0\xff"[rng() % 2];
    expected.insert(id);
    builder.add(row(id, "c", 1));
  }
  const std::vector<std::string> got = ids_of(builder.take_sorted());
  EXPECT_EQ(got, std::vector<std::string>(expected.begin(), expected.end()));
}

// The rows' buffers are overwritten after each row, as a reader's are.
TEST(QuerySummariesTest, InterleavedRowsKeepTheirQueriesAndTopIds) {
  const struct {
    const char* query;
    const char* candidate;
    std::uint64_t rank;
  } rows[] = {{"q2", "a", 3}, {"q1", "b", 2}, {"q2", "c", 1}, {"q2", "d", 1}, {"q1", "e", 2}};
  for (const TopIds ids : {TopIds::Drop, TopIds::Keep}) {
    QuerySummaries builder(ids);
    std::string query;
    std::string candidate;
    for (const auto& r : rows) {
      query = r.query;
      candidate = r.candidate;
      builder.add(row(query, candidate, r.rank));
      query.assign(query.size(), '#');
      candidate.assign(candidate.size(), '#');
    }
    const std::vector<KeyedSummary> summaries = builder.take_sorted();
    ASSERT_EQ(ids_of(summaries), (std::vector<std::string>{"q1", "q2"}));
    EXPECT_EQ(summaries[0].summary.count, 2u);
    EXPECT_EQ(summaries[1].summary.count, 3u);
    const bool keep = ids == TopIds::Keep;
    EXPECT_EQ(summaries[0].summary.top_candidate_id, keep ? "b" : "");
    EXPECT_EQ(summaries[1].summary.top_candidate_id, keep ? "c" : "");
    EXPECT_EQ(summaries[1].summary.top_group, std::nullopt);
  }
}

TEST(QuerySummariesTest, UsableAgainAfterTaking) {
  QuerySummaries builder(TopIds::Keep);
  builder.add(row("q1", "a", 1));
  EXPECT_EQ(builder.take_unordered().size(), 1u);
  builder.add(row("q1", "b", 1));
  builder.add(row("q0", "c", 1));
  const std::vector<KeyedSummary> summaries = builder.take_sorted();
  ASSERT_EQ(ids_of(summaries), (std::vector<std::string>{"q0", "q1"}));
  EXPECT_EQ(summaries[1].summary.count, 1u);
  EXPECT_EQ(summaries[1].summary.top_candidate_id, "b");
}

// A builder told by entropy_sum_for(method) whether to sum the entropy terms
// must score every query as the candidate records themselves are scored.
TEST(QuerySummariesTest, EntropySumForEachMethodKeepsEveryConfidence) {
  const std::vector<QueryRanking> queries = {
      testing::make_query("a", {{1, 9.0, 0.5}, {2, 4.0, 0.3}, {3, 1.0, 0.2}}),
      testing::make_query("b", {{1, 2.0, 0.9}, {2, 1.0, 0.1}}),
      testing::make_query("c", {{1, 5.0, 0.7}, {2, 3.0}}),
      testing::make_query("d", {{1, 1.0, 0.25}, {1, 1.0, 0.25}, {2, 0.5, 0.0}, {3, 0.2, 0.5}}),
      testing::make_query("e", {{1, 3.0, 1.0}}),
  };
  for (int m = 0; m < kScoringMethodCount; ++m) {
    const auto method = static_cast<ScoringMethod>(m);
    QuerySummaries builder(TopIds::Drop, entropy_sum_for(method));
    for (const QueryRanking& query : queries) {
      for (const Candidate& candidate : query.candidates) {
        builder.add(query.query_id, view_of(candidate));
      }
    }
    const std::vector<KeyedSummary> summaries = builder.take_sorted();
    ASSERT_EQ(summaries.size(), queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) {
      EXPECT_TRUE(testing::same_bits(score(summaries[i].summary, method),
                                     compute_confidence(queries[i], method)))
          << policy_name(method) << ", query " << queries[i].query_id;
    }
  }
}

}  // namespace
}  // namespace ferolin::scoring
