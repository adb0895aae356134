// Random queries scored through the summaries against a plain reading of the
// methods over the full candidate list (stable sort by rank), bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/metrics/risk_coverage.h"
#include "core/policy/apply_policy.h"
#include "core/scoring/query_summaries.h"
#include "core/table/candidate_row.h"
#include "reference/whole_rankings.h"
#include "support/plain_reading.h"
#include "support/query_builders.h"

namespace ferolin::scoring {
namespace {

using reference::Candidate;
using reference::DetailsBox;
using reference::QueryRanking;
using testing::describe;
using testing::plain_confidence;
using testing::plain_curve;
using testing::plain_decision;
using testing::plain_top;
using testing::same_bits;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- random queries --------------------------------------------------------

class RandomQueries {
 public:
  explicit RandomQueries(std::uint64_t seed) : rng_(seed) {}

  QueryRanking query(std::string id) {
    QueryRanking q{std::move(id), {}};
    const int n = uniform(0, 12);
    for (int i = 0; i < n; ++i) {
      testing::CandidateSpec spec;
      // Few ranks, so that ties are common.
      spec.rank = static_cast<std::uint64_t>(uniform(0, 5));
      spec.score = pick({0.0, -0.0, kNaN, kInf, -kInf, -1.5, 2.0, real(-10.0, 10.0), real(0.0, 1.0),
                         real(0.0, 1.0)});
      if (uniform(0, 9) > 0) {
        spec.probability = pick({0.0, -0.0, 1.0, kNaN, kInf, -0.2, real(0.0, 1.0), real(0.0, 1.0),
                                 real(0.0, 1.0), real(0.0, 1.0)});
      }
      if (uniform(0, 4) > 0) spec.correct = uniform(0, 1) == 1;
      spec.id = "c" + std::to_string(i);
      if (uniform(0, 2) == 0) spec.group = uniform(0, 1) == 0 ? "A" : "B";
      q.candidates.push_back(testing::make_candidate(q.query_id, spec));
    }
    return q;
  }

  int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

 private:
  double real(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng_);
  }
  double pick(std::initializer_list<double> values) {
    return values.begin()[uniform(0, static_cast<int>(values.size()) - 1)];
  }

  std::mt19937_64 rng_;
};

constexpr std::uint64_t kSeeds[] = {1, 2, 3, 20240611};

std::vector<QueryRanking> random_queries(std::uint64_t seed, int count) {
  RandomQueries random(seed);
  std::vector<QueryRanking> queries;
  for (int i = 0; i < count; ++i) queries.push_back(random.query("q" + std::to_string(i)));
  return queries;
}

TEST(QuerySummaryPropertyTest, EveryMethodMatchesThePlainReading) {
  for (const std::uint64_t seed : kSeeds) {
    for (const QueryRanking& q : random_queries(seed, 3000)) {
      for (int m = 0; m < kScoringMethodCount; ++m) {
        const auto method = static_cast<ScoringMethod>(m);
        const auto got = compute_confidence(q, method);
        const auto expected = plain_confidence(q, method);
        ASSERT_TRUE(same_bits(got, expected))
            << "seed " << seed << " " << q.query_id << " " << display_name(method) << ": got "
            << describe(got) << ", expected " << describe(expected);
      }
    }
  }
}

void expect_same_decisions(const std::vector<AnnotationDecision>& got,
                           const std::vector<AnnotationDecision>& expected, const char* what) {
  ASSERT_EQ(got.size(), expected.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i) {
    const AnnotationDecision& a = got[i];
    const AnnotationDecision& b = expected[i];
    ASSERT_TRUE(a.query_id == b.query_id && a.candidate_id == b.candidate_id &&
                same_bits(a.confidence, b.confidence) && a.accepted == b.accepted &&
                same_bits(a.threshold, b.threshold) && a.method == b.method)
        << what << " #" << i << " " << b.query_id << "/" << b.candidate_id << " " << b.method
        << ": got " << a.query_id << "/" << a.candidate_id << " " << describe(a.confidence);
  }
}

void expect_same_curves(const std::vector<RiskCoverageRow>& got,
                        const std::vector<RiskCoverageRow>& expected, const char* what) {
  ASSERT_EQ(got.size(), expected.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i) {
    const RiskCoverageRow& a = got[i];
    const RiskCoverageRow& b = expected[i];
    ASSERT_TRUE(same_bits(a.threshold, b.threshold) && a.accepted == b.accepted &&
                a.total == b.total && same_bits(a.coverage, b.coverage) && a.errors == b.errors &&
                same_bits(a.risk, b.risk))
        << what << " row " << i << ": threshold " << describe(a.threshold) << " vs "
        << describe(b.threshold);
  }
}

// Feeds the candidates as table rows, the queries' rows interleaved at
// random, through buffers that each row overwrites, into summaries that
// keep `needs`.
QuerySummaries summaries_from_rows(const std::vector<QueryRanking>& queries, std::uint64_t seed,
                                   const SummaryNeeds& needs) {
  RandomQueries random(seed);
  QuerySummaries builder(needs, TopIds::Keep);
  std::vector<std::size_t> next(queries.size(), 0);
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    if (!queries[i].candidates.empty()) open.push_back(i);
  }
  std::string query_buffer;
  std::string candidate_buffer;
  while (!open.empty()) {
    const auto pick = static_cast<std::size_t>(random.uniform(0, int(open.size()) - 1));
    const QueryRanking& q = queries[open[pick]];
    const Candidate& c = q.candidates[next[open[pick]]++];
    query_buffer = q.query_id;
    candidate_buffer = c.candidate_id;
    table::CandidateRow row;
    row.query_id = query_buffer;
    row.candidate_id = candidate_buffer;
    row.rank = c.rank;
    row.score = c.score;
    row.probability = c.probability;
    row.is_correct = c.is_correct;
    builder.add(row.query_id, reference::view_of(row));
    query_buffer.assign(query_buffer.size(), '#');
    candidate_buffer.assign(candidate_buffer.size(), '#');
    if (next[open[pick]] == q.candidates.size()) open.erase(open.begin() + std::ptrdiff_t(pick));
  }
  return builder;
}

// Summaries that keep only what one method reads, and summaries that keep
// everything, give that method's plain decisions and curve.
TEST(QuerySummaryPropertyTest, TableRowsGiveThePlainDecisionsAndCurves) {
  for (const std::uint64_t seed : kSeeds) {
    const std::vector<QueryRanking> queries = random_queries(seed, 400);
    // Grouped and sorted the plain way; rows carry no group.
    std::map<std::string, QueryRanking> grouped;
    for (const QueryRanking& q : queries) {
      if (q.candidates.empty()) continue;
      QueryRanking& copy = grouped[q.query_id] = q;
      for (Candidate& c : copy.candidates) c.details = DetailsBox();
    }
    std::vector<QueryRanking> plain_queries;
    for (auto& [id, q] : grouped) plain_queries.push_back(q);
    const QuerySummaries everything = summaries_from_rows(queries, seed + 100, kEveryNeed);
    for (int m = 0; m < kScoringMethodCount; ++m) {
      const PolicyFile policy = testing::make_policy(static_cast<ScoringMethod>(m), 0.25);
      const QuerySummaries lean =
          summaries_from_rows(queries, seed + 100, needs_of(policy.scoring_method));
      std::vector<AnnotationDecision> expected;
      for (const QueryRanking& q : plain_queries) expected.push_back(plain_decision(q, policy));
      const std::vector<RiskCoverageRow> curve = plain_curve(queries, policy.scoring_method);
      for (const QuerySummaries* summaries : {&lean, &everything}) {
        const char* what = summaries == &lean ? "rows, lean" : "rows, everything kept";
        expect_same_decisions(policy::apply_policy(*summaries, policy), expected, what);
        expect_same_curves(metrics::compute_curve(*summaries, policy.scoring_method), curve, what);
      }
    }
  }
}

TEST(QuerySummaryPropertyTest, RecordsGiveThePlainDecisionsAndCurves) {
  for (const std::uint64_t seed : kSeeds) {
    const std::vector<QueryRanking> queries = random_queries(seed, 400);
    for (int m = 0; m < kScoringMethodCount; ++m) {
      const PolicyFile policy =
          testing::make_policy(static_cast<ScoringMethod>(m), 0.25, {{{"A", 0.75}}});
      std::vector<AnnotationDecision> expected;
      for (const QueryRanking& q : queries) {
        if (!q.candidates.empty()) expected.push_back(plain_decision(q, policy));
      }
      expect_same_decisions(reference::apply_policy(queries, policy), expected, "records");
      expect_same_curves(reference::compute_curve(queries, policy.scoring_method),
                         plain_curve(queries, policy.scoring_method), "records");
    }
  }
}

TEST(QuerySummaryPropertyTest, CurveInvariants) {
  for (const std::uint64_t seed : kSeeds) {
    const std::vector<QueryRanking> queries = random_queries(seed, 1000);
    std::uint64_t labelled = 0;
    for (const QueryRanking& q : queries) {
      if (!q.candidates.empty() && plain_top(q).is_correct) ++labelled;
    }
    for (int m = 0; m < kScoringMethodCount; ++m) {
      const auto method = static_cast<ScoringMethod>(m);
      const std::vector<RiskCoverageRow> curve = reference::compute_curve(queries, method);
      ASSERT_FALSE(curve.empty()) << display_name(method);
      for (std::size_t i = 0; i < curve.size(); ++i) {
        const RiskCoverageRow& row = curve[i];
        ASSERT_EQ(row.total, labelled);
        ASSERT_FALSE(std::isnan(row.threshold));
        ASSERT_LE(row.coverage, 1.0);
        ASSERT_TRUE(row.risk.has_value());
        if (i == 0) continue;
        const RiskCoverageRow& prev = curve[i - 1];
        ASSERT_LT(row.threshold, prev.threshold) << display_name(method) << " row " << i;
        ASSERT_GT(row.accepted, prev.accepted);
        ASSERT_GT(row.coverage, prev.coverage);
        ASSERT_GE(row.errors, prev.errors);
      }
    }
  }
}

}  // namespace
}  // namespace ferolin::scoring
