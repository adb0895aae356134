#include "core/metrics/risk_coverage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "reference/whole_rankings.h"
#include "support/query_builders.h"

namespace ferolin::metrics {
namespace {

using reference::QueryRanking;
using testing::make_query;
using testing::same_bits;

constexpr double kInf = std::numeric_limits<double>::infinity();

// A query whose max-prob confidence is `confidence` and whose top candidate
// carries `correct`; a lower-ranked candidate carries the opposite label.
QueryRanking labelled(std::optional<double> confidence, std::optional<bool> correct) {
  std::optional<bool> other;
  if (correct) other = !*correct;
  return make_query("q", {{.rank = 2, .probability = 0.01, .correct = other},
                          {.rank = 1, .probability = confidence, .correct = correct}});
}

struct Row {
  double threshold;
  std::uint64_t accepted;
  std::uint64_t total;
  double coverage;
  std::uint64_t errors;
  double risk;
};

void expect_curve(const std::vector<RiskCoverageRow>& got, const std::vector<Row>& expected,
                  const char* name) {
  ASSERT_EQ(got.size(), expected.size()) << name;
  for (std::size_t i = 0; i < got.size(); ++i) {
    const RiskCoverageRow& g = got[i];
    const Row& e = expected[i];
    EXPECT_TRUE(same_bits(g.threshold, e.threshold)) << name << " row " << i << " threshold";
    EXPECT_EQ(g.accepted, e.accepted) << name << " row " << i;
    EXPECT_EQ(g.total, e.total) << name << " row " << i;
    EXPECT_EQ(g.coverage, e.coverage) << name << " row " << i;
    EXPECT_EQ(g.errors, e.errors) << name << " row " << i;
    EXPECT_EQ(g.risk, e.risk) << name << " row " << i;
  }
}

std::vector<QueryRanking> five_queries(std::optional<double> fifth) {
  return {labelled(0.9, true), labelled(0.8, false), labelled(0.8, true), labelled(0.5, true),
          labelled(fifth, false)};
}

const std::vector<Row> kThreeRows = {
    {0.9, 1, 5, 0.2, 0, 0.0}, {0.8, 3, 5, 0.6, 1, 0.3333333333333333}, {0.5, 4, 5, 0.8, 1, 0.25}};

TEST(RiskCoverageTest, FiveQueryExample) {
  expect_curve(compute_curve(five_queries(std::nullopt), ScoringMethod::MaxProb), kThreeRows,
               "absent fifth");
  std::vector<Row> four_rows = kThreeRows;
  four_rows.push_back({0.3, 5, 5, 1.0, 2, 0.4});
  expect_curve(compute_curve(five_queries(0.3), ScoringMethod::MaxProb), four_rows, "0.3 fifth");

  // Unlabelled and empty queries change nothing, nor does the input order.
  std::vector<QueryRanking> more = five_queries(std::nullopt);
  more.push_back(labelled(0.95, std::nullopt));
  more.push_back(make_query("empty", {}));
  std::reverse(more.begin(), more.end());
  expect_curve(compute_curve(more, ScoringMethod::MaxProb), kThreeRows, "with unlabelled");
}

TEST(RiskCoverageTest, SmallCurves) {
  const struct {
    const char* name;
    std::vector<QueryRanking> queries;
    std::vector<Row> rows;
  } cases[] = {
      {"no queries", {}, {}},
      {"only unlabelled", {labelled(0.7, std::nullopt), labelled(0.2, std::nullopt)}, {}},
      {"only empty", {make_query("a", {}), make_query("b", {})}, {}},
      {"every confidence absent",
       {labelled(std::nullopt, true), labelled(std::nullopt, false)},
       {}},
      {"one correct", {labelled(0.7, true)}, {{0.7, 1, 1, 1.0, 0, 0.0}}},
      {"one incorrect", {labelled(0.7, false)}, {{0.7, 1, 1, 1.0, 1, 1.0}}},
      {"first of equal top ranks gives the label",
       {make_query("q", {{.rank = 1, .probability = 0.6, .correct = false},
                         {.rank = 1, .probability = 0.9, .correct = true}})},
       {{0.6, 1, 1, 1.0, 1, 1.0}}},
      {"unlabelled top, labelled runner-up",
       {make_query("q", {{.rank = 1, .probability = 0.6}, {.rank = 2, .correct = true}})},
       {}},
      {"+0.0 and -0.0 share one row at +0.0",
       {labelled(-0.0, true), labelled(0.0, false), labelled(-0.0, true)},
       {{0.0, 3, 3, 1.0, 1, 0.3333333333333333}}},
      {"-0.0 alone keeps its sign", {labelled(-0.0, true)}, {{-0.0, 1, 1, 1.0, 0, 0.0}}},
      {"+inf ahead of finite values",
       {labelled(0.5, true), labelled(kInf, false), labelled(kInf, true)},
       {{kInf, 2, 3, 0.6666666666666666, 1, 0.5}, {0.5, 3, 3, 1.0, 1, 0.3333333333333333}}},
  };
  for (const auto& c : cases) {
    expect_curve(compute_curve(c.queries, ScoringMethod::MaxProb), c.rows, c.name);
  }
}

// +inf - (+inf) is a present NaN confidence: it counts in `total` and is
// never accepted, like an absent one, and the walk still ends.
TEST(RiskCoverageTest, NaNConfidenceCountsButIsNeverAccepted) {
  const std::vector<QueryRanking> queries = {
      make_query("cancel",
                 {{.rank = 1, .score = kInf, .correct = false}, {.rank = 2, .score = kInf}}),
      make_query("gap", {{.rank = 1, .score = 3.0, .correct = true}, {.rank = 2, .score = 1.0}}),
      make_query("cancel2",
                 {{.rank = 1, .score = kInf, .correct = true}, {.rank = 2, .score = kInf}}),
  };
  expect_curve(compute_curve(queries, ScoringMethod::ScoreGap), {{2.0, 1, 3, 1.0 / 3.0, 0, 0.0}},
               "nan");
}

}  // namespace
}  // namespace ferolin::metrics
