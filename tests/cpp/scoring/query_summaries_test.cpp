#include "core/scoring/query_summaries.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/scoring/dispatch.h"
#include "reference/whole_rankings.h"
#include "support/query_builders.h"

namespace ferolin::scoring {
namespace {

using reference::Candidate;
using reference::QueryRanking;

table::CandidateRow row(std::string_view query_id, std::string_view candidate_id,
                        std::uint64_t rank) {
  table::CandidateRow r;
  r.query_id = query_id;
  r.candidate_id = candidate_id;
  r.rank = rank;
  return r;
}

// Adds a table row as the core's readers add theirs.
void add_row(QuerySummaries& summaries, const table::CandidateRow& r) {
  summaries.add(r.query_id, reference::view_of(r));
}

std::vector<std::string> sorted_ids(const QuerySummaries& summaries) {
  std::vector<std::string> ids;
  for (const std::size_t q : summaries.numbers_by_id()) {
    ids.emplace_back(summaries.query_id(q));
  }
  return ids;
}

TEST(QuerySummariesTest, NumberedInOrderOfFirstSightAndSortedByRawBytes) {
  QuerySummaries builder(needs_of(ScoringMethod::MaxProb), TopIds::Drop);
  for (const char* id : {"2", "\xc3\xa9", "q1", "10", "z", "Q1", "1", "", "10", "2"}) {
    add_row(builder, row(id, "c", 1));
  }
  ASSERT_EQ(builder.size(), 8u);
  EXPECT_EQ(builder.query_id(0), "2");
  EXPECT_EQ(builder.query_id(7), "");
  const std::vector<std::string> expected = {"", "1", "10", "2", "Q1", "q1", "z", "\xc3\xa9"};
  EXPECT_EQ(sorted_ids(builder), expected);
}

// Long shared prefixes, embedded and trailing NUL bytes, and bytes above
// 0x7f: the order is that of std::string, whatever the key lengths.
TEST(QuerySummariesTest, SortedByRawBytesAtAnyLength) {
  std::mt19937 rng(5);
  std::set<std::string> expected;
  QuerySummaries builder(needs_of(ScoringMethod::MaxProb), TopIds::Drop);
  for (int i = 0; i < 3000; ++i) {
    std::string id(static_cast<std::size_t>(rng() % 20) + (rng() % 2 == 0 ? 20 : 0), 'a');
    for (char& c : id) c = rng() % 16 != 0 ? 'a' : "\0\xff"[rng() % 2];
    expected.insert(id);
    add_row(builder, row(id, "c", 1));
  }
  EXPECT_EQ(sorted_ids(builder), std::vector<std::string>(expected.begin(), expected.end()));
}

// The rows' buffers are overwritten after each row, as a reader's are.
TEST(QuerySummariesTest, InterleavedRowsKeepTheirQueriesAndTopIds) {
  const struct {
    const char* query;
    const char* candidate;
    std::uint64_t rank;
  } rows[] = {{"q2", "a", 3}, {"q1", "b", 2}, {"q2", "c", 1}, {"q2", "d", 1}, {"q1", "e", 2}};
  for (const TopIds ids : {TopIds::Drop, TopIds::Keep}) {
    QuerySummaries builder(needs_of(ScoringMethod::CandidateCount), ids);
    std::string query;
    std::string candidate;
    for (const auto& r : rows) {
      query = r.query;
      candidate = r.candidate;
      add_row(builder, row(query, candidate, r.rank));
      query.assign(query.size(), '#');
      candidate.assign(candidate.size(), '#');
    }
    ASSERT_EQ(builder.size(), 2u);
    EXPECT_EQ(builder.query_id(0), "q2");
    EXPECT_EQ(builder.summary(0).count, 3u);
    EXPECT_EQ(builder.summary(1).count, 2u);
    if (ids == TopIds::Drop) continue;
    EXPECT_EQ(builder.top_candidate_id(0), "c");
    EXPECT_EQ(builder.top_candidate_id(1), "b");
    EXPECT_EQ(builder.top_group(0), std::nullopt);
  }
}

// Scattered rows whose ranks fall make every row the new top candidate of
// its query: the replaced ids must neither be lost nor pile up.
TEST(QuerySummariesTest, TopIdsReplacedAcrossScatteredRows) {
  QuerySummaries builder(needs_of(ScoringMethod::MaxProb), TopIds::Keep);
  constexpr int kQueries = 500;
  constexpr int kRounds = 400;
  const std::string padding(40, 'x');
  for (int round = 0; round < kRounds; ++round) {
    for (int q = 0; q < kQueries; ++q) {
      const std::string query = "query-" + std::to_string(q);
      const std::string candidate = "candidate-" + std::to_string(round) + padding;
      table::CandidateRow r = row(query, candidate, kRounds - round);
      r.group = q % 2 == 0 ? std::optional<std::string_view>("even") : std::nullopt;
      add_row(builder, r);
    }
  }
  for (int q = 0; q < kQueries; ++q) {
    EXPECT_EQ(builder.top_candidate_id(q), "candidate-399" + padding);
    EXPECT_EQ(builder.top_group(q),
              q % 2 == 0 ? std::optional<std::string_view>("even") : std::nullopt);
  }
  // 200,000 replaced ids of 53 bytes would take 10 MB if they piled up.
  EXPECT_LT(builder.allocated_bytes(), std::size_t{4} << 20);
}

// Summaries that keep only what a method reads score every query as the
// candidate records themselves are scored.
TEST(QuerySummariesTest, NeedsOfEachMethodKeepEveryConfidence) {
  const std::vector<QueryRanking> queries = {
      testing::make_query("a", {{1, 9.0, 0.5}, {2, 4.0, 0.3}, {3, 1.0, 0.2}}),
      testing::make_query("b", {{1, 2.0, 0.9}, {2, 1.0, 0.1}}),
      testing::make_query("c", {{1, 5.0, 0.7}, {2, 3.0}}),
      testing::make_query("d", {{1, 1.0, 0.25}, {1, 1.0, 0.25}, {2, 0.5, 0.0}, {3, 0.2, 0.5}}),
      testing::make_query("e", {{1, 3.0, 1.0}}),
      testing::make_query("f", {{4, 3.0, 0.1},
                                {3, 2.0, 0.2},
                                {2, 1.0, 0.3},
                                {1, 0.5, 0.4},
                                {6, 9.0},
                                {5, 8.0, 0.0},
                                {0, -1.0, 0.6}}),
  };
  for (int m = 0; m < kScoringMethodCount; ++m) {
    const auto method = static_cast<ScoringMethod>(m);
    QuerySummaries builder(needs_of(method), TopIds::Drop);
    for (const QueryRanking& query : queries) {
      for (const Candidate& candidate : query.candidates) {
        builder.add(query.query_id, reference::view_of(candidate));
      }
    }
    ASSERT_EQ(builder.size(), queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) {
      EXPECT_TRUE(testing::same_bits(score(builder.summary(i), method),
                                     compute_confidence(queries[i], method)))
          << policy_name(method) << ", query " << queries[i].query_id;
    }
  }
}

// The aim: at most 100 bytes a query beside its id, for every method, on a
// table of one-candidate queries.
TEST(QuerySummariesTest, OneCandidateQueriesTakeLittleMemory) {
  constexpr std::size_t kQueries = 300'000;
  for (int m = 0; m < kScoringMethodCount; ++m) {
    const auto method = static_cast<ScoringMethod>(m);
    QuerySummaries builder(needs_of(method), TopIds::Drop);
    std::size_t id_bytes = 0;
    for (std::size_t q = 0; q < kQueries; ++q) {
      const std::string id = "spectrum_" + std::to_string(q);
      id_bytes += id.size();
      add_row(builder, row(id, "c", 1));
    }
    const double per_query =
        static_cast<double>(builder.allocated_bytes() - id_bytes) / double(kQueries);
    EXPECT_LT(per_query, 100.0) << policy_name(method);
  }
}

}  // namespace
}  // namespace ferolin::scoring
