#include "core/pipeline/query_pass.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <string>

#include "core/metrics/risk_coverage.h"
#include "core/pipeline/table_functions.h"
#include "support/curve_expectations.h"
#include "support/policy_test_support.h"

namespace ferolin::pipeline {
namespace {

using ferolin::testing::expect_same_curve;

PassRequest request_for(std::vector<ScoringMethod> methods, bool keep_ids,
                        table::TableOptions options = {}) {
  PassRequest request;
  request.methods = std::move(methods);
  request.keep_ids = keep_ids;
  request.table = std::move(options);
  return request;
}

constexpr ScoringMethod kAllMethods[] = {ScoringMethod::MaxProb,    ScoringMethod::ScoreGap,
                                         ScoringMethod::Margin,     ScoringMethod::Entropy,
                                         ScoringMethod::ScoreRatio, ScoringMethod::TopKGap,
                                         ScoringMethod::EffectiveK, ScoringMethod::CandidateCount};

const std::string kLabelled =
    std::string(FEROLIN_SOURCE_DIR) + "/examples/data/labelled_candidates.csv";

std::uint64_t bits_of(const std::optional<double>& value) {
  return value ? std::bit_cast<std::uint64_t>(*value) : 0x7ff4dead00000000;
}

// One pass for all eight methods gives each method's curve bit for bit.
TEST(QueryPass, CurvesOfOnePassEqualOneCurvePerRead) {
  PassRequest request;
  request.methods.assign(std::begin(kAllMethods), std::end(kAllMethods));
  const Result<QueryTable> table = run_query_pass(kLabelled, request);
  ASSERT_TRUE(table.has_value()) << table.error().message();
  EXPECT_EQ(table->rows, 24781u);
  for (std::size_t m = 0; m < request.methods.size(); ++m) {
    const auto expected = curve_from_table(kLabelled, request.methods[m]);
    ASSERT_TRUE(expected.has_value());
    expect_same_curve(metrics::compute_curve(table->confidences[m], table->top_labels), *expected);
  }
}

// With ids, the table lines up with the decisions of a policy, query by query.
TEST(QueryPass, IdsAndConfidencesMatchDecisions) {
  PolicyFile policy = test::sample_policy();
  policy.scoring_method = ScoringMethod::Margin;
  const auto decisions = decide_table(kLabelled, policy);
  ASSERT_TRUE(decisions.has_value());
  const Result<QueryTable> table =
      run_query_pass(kLabelled, request_for({ScoringMethod::Margin}, true));
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->size(), decisions->size());
  for (std::size_t q = 0; q < table->size(); ++q) {
    const AnnotationDecision& decision = (*decisions)[q];
    ASSERT_EQ(table->query_ids[q], decision.query_id);
    ASSERT_EQ(table->top_candidate_ids[q], decision.candidate_id);
    const double confidence = table->confidences[0][q].value_or(decision.confidence);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(confidence),
              std::bit_cast<std::uint64_t>(decision.confidence));
  }
}

struct LayoutCase {
  const char* name;
  const char* text;
  table::TableOptions options;
};

// Other layouts of the same two queries read the same as the default one.
TEST(QueryPass, OtherLayoutsReadTheSame) {
  const std::string standard =
      "query_id,candidate_id,rank,score,is_correct,mode\n"
      "q1,a,1,0.9,true,pos\nq1,b,2,0.5,false,neg\nq2,c,1,0.4,false,\n";
  table::TableOptions tab;
  tab.delimiter = '\t';
  table::TableOptions renamed;
  renamed.header_names = {{table::Column::IsCorrect, "Is_Correct"},
                          {table::Column::QueryId, "spectrum"}};
  renamed.labels = table::LabelSpelling::Lenient;
  const LayoutCase cases[] = {
      {"tab",
       "query_id\tcandidate_id\trank\tscore\tis_correct\tmode\n"
       "q1\ta\t1\t0.9\ttrue\tpos\nq1\tb\t2\t0.5\tfalse\tneg\nq2\tc\t1\t0.4\tfalse\t\n",
       tab},
      {"renamed",
       "spectrum,candidate_id,rank,score,Is_Correct,mode,is_correct\n"
       "q1,a,1,0.9,TRUE,pos,x\nq1,b,2,0.5,0,neg,x\nq2,c,1,0.4,False,,x\n",
       renamed},
  };
  test::ScratchDir dir;
  auto read = [&](const std::string& text, table::TableOptions options) {
    const std::string path = dir.path() + "/table.txt";
    test::write_file(path, text);
    options.group_column = "mode";
    return run_query_pass(path, request_for({ScoringMethod::ScoreGap}, true, std::move(options)));
  };
  const Result<QueryTable> expected = read(standard, {});
  ASSERT_TRUE(expected.has_value()) << expected.error().message();
  ASSERT_EQ(expected->groups, (std::vector<std::optional<std::string>>{"pos", std::nullopt}));
  for (const LayoutCase& c : cases) {
    const Result<QueryTable> got = read(c.text, c.options);
    ASSERT_TRUE(got.has_value()) << c.name << ": " << got.error().message();
    EXPECT_EQ(got->groups, expected->groups) << c.name;
    EXPECT_EQ(got->top_labels, expected->top_labels) << c.name;
    EXPECT_EQ(bits_of(got->confidences[0][0]), bits_of(expected->confidences[0][0])) << c.name;
  }
  table::TableOptions grouped;
  grouped.group_column = "ionisation";
  const Result<QueryTable> missing = run_query_pass(kLabelled, request_for({}, false, grouped));
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(), "Missing required column: ionisation");
}

// The monitor sees the whole file and every record at the end, and its
// error ends the pass.
TEST(QueryPass, MonitorSeesProgressAndCanStop) {
  std::uint64_t last_bytes = 0;
  std::uint64_t last_rows = 0;
  PassRequest request;
  request.table.monitor.interval = 64 * 1024;
  request.table.monitor.check = [&](const os::ReadProgress& progress) -> Result<void> {
    EXPECT_GE(progress.bytes, last_bytes);
    EXPECT_GE(progress.rows, last_rows);
    last_bytes = progress.bytes;
    last_rows = progress.rows;
    return {};
  };
  const Result<QueryTable> read = run_query_pass(kLabelled, request);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(last_bytes, std::filesystem::file_size(kLabelled));
  EXPECT_EQ(last_rows, read->rows + 1);  // the header counts as a record

  request.table.monitor.check = [](const os::ReadProgress&) -> Result<void> {
    return std::unexpected(FerolinError::io("stopped"));
  };
  const Result<QueryTable> stopped = run_query_pass(kLabelled, request);
  ASSERT_FALSE(stopped.has_value());
  EXPECT_EQ(stopped.error().message(), "IO error: stopped");
}

}  // namespace
}  // namespace ferolin::pipeline
