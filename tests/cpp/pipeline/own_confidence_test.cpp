#include "core/pipeline/own_confidence.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>

#include "core/pipeline/probability_check.h"
#include "core/pipeline/query_pass.h"
#include "core/policy_file/policy_json.h"
#include "support/policy_test_support.h"

namespace ferolin::pipeline {
namespace {

const std::string kLabelled =
    std::string(FEROLIN_SOURCE_DIR) + "/examples/data/labelled_candidates.csv";

std::uint64_t bits_of(const std::optional<double>& value) {
  return value ? std::bit_cast<std::uint64_t>(*value) : 0x7ff4dead00000000;
}

// The top candidate's probability read as an own column is max-prob's
// confidence, query by query, bit for bit.
TEST(OwnConfidenceTest, TopCandidatesCellsAreMaxProb) {
  PassRequest request;
  request.methods = {ScoringMethod::MaxProb};
  request.table.confidence_column = "probability";
  const Result<QueryTable> table = run_query_pass(kLabelled, request);
  ASSERT_TRUE(table) << table.error().message();
  const auto own = own_confidences(table->confidence_cells, "probability", false);
  ASSERT_TRUE(own);
  ASSERT_EQ(own->size(), table->size());
  for (std::size_t q = 0; q < own->size(); ++q) {
    EXPECT_EQ(bits_of((*own)[q]), bits_of(table->confidences[0][q])) << q;
  }
}

TEST(OwnConfidenceTest, NegatedWhenLowerIsBetterAndCellsThatAreNoNumberFail) {
  const std::vector<std::optional<std::string>> cells = {"1e-5", std::nullopt, "-0"};
  const auto own = own_confidences(cells, "evalue", true);
  ASSERT_TRUE(own);
  EXPECT_EQ(bits_of((*own)[0]), bits_of(-1e-5));
  EXPECT_FALSE((*own)[1]);
  EXPECT_EQ(bits_of((*own)[2]), bits_of(0.0));
  const std::vector<std::optional<std::string>> bad = {"1", "high"};
  const auto failed = own_confidences(bad, "evalue", false);
  ASSERT_FALSE(failed);
  EXPECT_NE(failed.error().message().find("column 'evalue': the top candidate of query 2 has "
                                          "'high'"),
            std::string::npos)
      << failed.error().message();
}

TEST(ProbabilityCheckTest, CountsValuesOutsideTheUnitIntervalAndSumsAboveOne) {
  ProbabilityCheck check;
  const struct {
    std::size_t query;
    std::optional<double> probability;
  } rows[] = {{0, 0.7}, {0, 0.6},  {1, -0.2},         {1, 1.5}, {2, 0.5004},
              {2, 0.5004}, {3, {}}, {3, std::nan("")}, {4, 1.0}};
  for (const auto& row : rows) check.add(row.query, row.probability);
  const ProbabilityCounts counts = check.counts();
  EXPECT_EQ(counts.outside_unit_interval, 2u);
  EXPECT_EQ(counts.queries_above_one, 2u);  // queries 0 and 1; 2 is within rounding
  // Cells as the reader hands them: plain decimals, and every other spelling.
  ProbabilityCheck cells;
  const struct {
    std::size_t query;
    std::string_view cell;
  } read[] = {{0, "0.7"},  {0, ".6"},    {1, "-0.2"}, {1, "1.5e0"}, {2, "0.5004"}, {2, "5.004e-1"},
              {3, ""},     {3, "nan"},   {4, "1"},    {5, "0"},     {5, "1.0"},    {6, "inf"}};
  for (const auto& row : read) cells.add_cell(row.query, row.cell);
  const ProbabilityCounts cell_counts = cells.counts();
  EXPECT_EQ(cell_counts.outside_unit_interval, 3u);
  EXPECT_EQ(cell_counts.queries_above_one, 3u);  // queries 0, 1 and 6
}

}  // namespace
}  // namespace ferolin::pipeline

namespace ferolin::policy_file {
namespace {

// A policy on a column: written with its keys, read back by a reader that
// takes such policies, refused as an unknown method by every other.
TEST(OwnConfidencePolicyTest, RoundTripAndRefusal) {
  PolicyFile policy = test::sample_policy();
  policy.confidence_column = ConfidenceColumn{"evalue", true};
  const Result<std::string> text = policy_to_json_text(policy);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("\"scoring_method\": \"confidence_column\""), std::string::npos) << *text;
  const Result<PolicyFile> read = parse_policy(*text, PolicyMethods::WithConfidenceColumn);
  ASSERT_TRUE(read) << read.error().message();
  ASSERT_TRUE(read->confidence_column);
  EXPECT_EQ(read->confidence_column->column, "evalue");
  EXPECT_TRUE(read->confidence_column->lower_is_better);
  const Result<PolicyFile> refused = parse_policy(*text);
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().message().find("unknown variant `confidence_column`"),
            std::string::npos);
  std::string without_column = *text;
  without_column.erase(without_column.find("  \"confidence_col\""),
                       std::string("  \"confidence_col\": \"evalue\",\n").size());
  const Result<PolicyFile> missing =
      parse_policy(without_column, PolicyMethods::WithConfidenceColumn);
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().message().find("missing field `confidence_col`"), std::string::npos)
      << missing.error().message();
}

// The two keys are checked only in a policy on a column: any other keeps
// skipping them, whatever their values, as it did before they had a meaning.
TEST(OwnConfidencePolicyTest, KeysOfOtherPolicies) {
  const Result<std::string> plain = policy_to_json_text(test::sample_policy());
  ASSERT_TRUE(plain);
  std::string odd = *plain;
  odd.insert(1, "\"confidence_col\": {\"a\": [1, 1e999]}, \"lower_is_better\": 1e999,");
  EXPECT_TRUE(parse_policy(odd, PolicyMethods::WithConfidenceColumn));
  PolicyFile policy = test::sample_policy();
  policy.confidence_column = ConfidenceColumn{"evalue", false};
  std::string text = *policy_to_json_text(policy);
  text.replace(text.find("false"), 5, "\"no\"");
  const Result<PolicyFile> read = parse_policy(text, PolicyMethods::WithConfidenceColumn);
  ASSERT_FALSE(read);
  EXPECT_NE(read.error().message().find("invalid type: string \"no\", expected a boolean"),
            std::string::npos)
      << read.error().message();
}

}  // namespace
}  // namespace ferolin::policy_file
