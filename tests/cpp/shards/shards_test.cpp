#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/metrics/risk_coverage.h"
#include "core/pipeline/query_pass.h"
#include "core/shards/packed_pairs.h"
#include "core/shards/query_id_set.h"
#include "core/shards/score_table.h"
#include "core/shards/shard_merge.h"
#include "support/curve_expectations.h"

namespace ferolin::shards {
namespace {

using ferolin::testing::expect_same_curve;

const std::string kLabelled =
    std::string(FEROLIN_SOURCE_DIR) + "/examples/data/labelled_candidates.csv";
const std::vector<ScoringMethod> kMethods = {ScoringMethod::Margin, ScoringMethod::TopKGap};

pipeline::QueryTable labelled_pass() {
  pipeline::PassRequest request;
  request.methods = kMethods;
  request.keep_ids = true;
  Result<pipeline::QueryTable> table = pipeline::run_query_pass(kLabelled, request);
  EXPECT_TRUE(table.has_value());
  return std::move(*table);
}

std::string packed(const pipeline::QueryTable& table) {
  std::string bytes(*packed_size(table), '\0');
  pack(table, bytes);
  return bytes;
}

TEST(QueryIdSet, FindsEveryEarlierIdThroughGrowth) {
  QueryIdSet reserved;  // room made first, then more ids than reserved
  reserved.reserve(10, 10);
  for (int i = 0; i < 3000; ++i) ASSERT_FALSE(reserved.insert(std::to_string(i))->has_value());
  EXPECT_EQ(*reserved.insert("2999"), 2999u);
  QueryIdSet ids;
  for (int i = 0; i < 100000; ++i) {
    ASSERT_FALSE(ids.insert("spec_" + std::to_string(i))->has_value()) << i;
  }
  for (int i = 0; i < 100000; i += 997) {
    EXPECT_EQ(*ids.insert("spec_" + std::to_string(i)), static_cast<std::uint64_t>(i));
  }
  EXPECT_FALSE(ids.insert("")->has_value());
  EXPECT_EQ(*ids.insert(""), 100000u);
  EXPECT_EQ(ids.size(), 100001u);
}

// A pass packed and merged gives the pass's own curves and counts.
TEST(PackedPairs, MergedPackGivesThePassCurves) {
  const pipeline::QueryTable table = labelled_pass();
  ShardMerge merge({ScoringMethod::TopKGap, ScoringMethod::Margin});
  merge.begin_shard("all");
  ASSERT_TRUE(unpack_into(packed(table), merge).has_value());
  const QueryPairs pairs = std::move(merge).finish();
  EXPECT_EQ(pairs.counts.queries, table.size());
  EXPECT_EQ(pairs.counts.rows, table.rows);
  EXPECT_EQ(pairs.counts.labelled, pairs.correct.size());
  expect_same_curve(metrics::compute_curve(pairs.confidences[0], pairs.correct),
                    metrics::compute_curve(table.confidences[1], table.top_labels));
  expect_same_curve(metrics::compute_curve(pairs.confidences[1], pairs.correct),
                    metrics::compute_curve(table.confidences[0], table.top_labels));
}

TEST(PackedPairs, QueryInTwoShardsNamesItAndBoth) {
  const std::string bytes = packed(labelled_pass());
  ShardMerge merge(kMethods);
  merge.begin_shard("first.csv");
  ASSERT_TRUE(unpack_into(bytes, merge).has_value());
  merge.begin_shard("second.csv");
  const Result<void> again = unpack_into(bytes, merge);
  ASSERT_FALSE(again.has_value());
  EXPECT_EQ(again.error().kind, ErrorKind::InvalidArgument);
  EXPECT_TRUE(again.error().message().starts_with(
      "query id 'CCMSLIB00000000000' is in both first.csv and second.csv"))
      << again.error().message();
}

TEST(PackedPairs, EveryCutAndFlipIsRefusedOrReadWithoutHarm) {
  pipeline::QueryTable table = labelled_pass();
  const std::string bytes = packed(table);
  for (std::size_t cut = 0; cut < bytes.size(); cut += cut < 200 ? 1 : 331) {
    ShardMerge merge(kMethods);
    merge.begin_shard("cut");
    const Result<void> read = unpack_into(std::string_view(bytes).substr(0, cut), merge);
    ASSERT_FALSE(read.has_value()) << cut;
    EXPECT_EQ(read.error().kind, ErrorKind::Io) << cut;
  }
  // A flipped byte anywhere: an error, or a merge that reads within bounds.
  for (std::size_t at = 0; at < bytes.size(); at += at < 200 ? 1 : 61) {
    std::string flipped = bytes;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x5a);
    ShardMerge merge(kMethods);
    merge.begin_shard("flipped");
    static_cast<void>(unpack_into(flipped, merge));
  }
}

TEST(PackedPairs, APassWithoutIdsCannotBePacked) {
  pipeline::PassRequest request;
  request.methods = kMethods;
  const Result<pipeline::QueryTable> table = pipeline::run_query_pass(kLabelled, request);
  ASSERT_TRUE(table.has_value());
  EXPECT_FALSE(packed_size(*table).has_value());
}

// Reads `text` as a per-query table into a merge for margin.
Result<QueryPairs> read_text(std::string text) {
  bool given = false;
  Result<ScoreTableReader> reader = ScoreTableReader::open([&]() -> Result<std::string_view> {
    if (given) return std::string_view();
    given = true;
    return std::string_view(text);
  });
  if (!reader) return std::unexpected(reader.error());
  ShardMerge merge({ScoringMethod::Margin});
  merge.begin_shard("t.tsv");
  if (Result<void> read = reader->read_into(merge); !read) return std::unexpected(read.error());
  return std::move(merge).finish();
}

const std::string kHeader = "query_id\tcandidate_id\tscore\tis_correct\tcandidates\tmargin\n";

TEST(ScoreTable, ReadsWhatTheWriterWrites) {
  const Result<QueryPairs> pairs =
      read_text(kHeader +
                "\"tab\there\"\tc\t1\ttrue\t2\t0.30000000000000004\n"
                "\"quo\"\"te\"\tc\t1\tFalse\t1\t\n"  // no confidence: an empty cell
                "q3\tc\t1\t\t3\tinf\n"               // unlabelled
                "q4\tc\tnan\tfalse\t2\t-0.0\r\n"     // CRLF
                "q5\tc\t1\ttrue\t0x2\t5e-324\n");
  ASSERT_TRUE(pairs.has_value()) << pairs.error().message();
  EXPECT_EQ(pairs->counts.queries, 5u);
  EXPECT_EQ(pairs->counts.rows, 10u);
  EXPECT_EQ(pairs->counts.labelled, 4u);
  EXPECT_EQ(pairs->counts.labelled_single_candidate, 1u);
  EXPECT_EQ(pairs->scored[0], 4u);
  const std::vector<double>& c = pairs->confidences[0];
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0], 0.1 + 0.2);
  EXPECT_TRUE(std::isnan(c[1]));
  EXPECT_TRUE(std::signbit(c[2]) && c[2] == 0.0);
  EXPECT_EQ(c[3], 5e-324);
  EXPECT_EQ(pairs->correct, (std::vector<std::uint8_t>{1, 0, 0, 1}));
}

TEST(ScoreTable, RefusesWhatTheWriterNeverWrites) {
  const struct {
    std::string text;
    std::string message;
    std::string cell = {};  // the cell handed back for callers to word, if one is
  } cases[] = {
      {"query_id\tis_correct\tmargin\nq\ttrue\t0.5\n", "Missing required column: candidates"},
      {"query_id\tis_correct\tcandidates\nq\ttrue\t1\n", "Missing required column: margin"},
      {kHeader + "q\tc\t1\ttrue\t-1\t0.5\n",
       "CSV error: CSV deserialize error: record 1 (line: 2, byte: 57): field 4: ", "-1"},
      {kHeader + "q\tc\t1\ttrue\t1\t0,5\n", "record 1 (line: 2, byte: 57): field 5: ", "0,5"},
      {kHeader + "q\tc\t1\tyes\t1\t0.5\n", "field 3: ", "yes"},
      {kHeader + "q\tc\t1\ttrue\t1\n", "CSV error: "},
      {kHeader + "q\tc\t1\ttrue\t1\t0.5\nq\tc\t1\ttrue\t1\t0.5\n",
       "query id 'q' appears twice in t.tsv"},
      {"", "Missing required column: query_id"},
  };
  for (const auto& c : cases) {
    const Result<QueryPairs> pairs = read_text(c.text);
    ASSERT_FALSE(pairs.has_value()) << c.text;
    EXPECT_NE(pairs.error().message().find(c.message), std::string::npos)
        << c.text << " -> " << pairs.error().message();
    if (c.cell.empty()) continue;
    ASSERT_TRUE(pairs.error().cell.has_value()) << c.text;
    EXPECT_EQ(pairs.error().cell->cell, c.cell) << c.text;
    EXPECT_EQ(pairs.error().cell->line, 2u) << c.text;
  }
}

}  // namespace
}  // namespace ferolin::shards
