#include "core/policy/apply_policy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "reference/whole_rankings.h"
#include "support/query_builders.h"

namespace ferolin::policy {
namespace {

using reference::QueryRanking;
using testing::make_policy;
using testing::make_query;
using testing::same_bits;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

QueryRanking top_probability(std::string id, std::optional<double> p,
                             std::optional<std::string> group = std::nullopt) {
  return make_query(std::move(id), {{.rank = 2, .probability = 0.99, .id = "second"},
                                    {.rank = 1, .probability = p, .id = "top", .group = group}});
}

TEST(ApplyPolicyTest, EmptyListGivesNoDecisions) {
  EXPECT_TRUE(
      apply_policy(std::vector<QueryRanking>{}, make_policy(ScoringMethod::MaxProb, 0.5)).empty());
}

TEST(ApplyPolicyTest, DecisionsByConfidenceAndThreshold) {
  const double kMax = std::numeric_limits<double>::max();
  const struct {
    const char* name;
    std::optional<double> probability;
    double threshold;
    double confidence;
    bool accepted;
  } cases[] = {
      {"above", 0.7, 0.5, 0.7, true},
      {"equal passes", 0.5, 0.5, 0.5, true},
      {"below", 0.4, 0.5, 0.4, false},
      {"absent is NaN", std::nullopt, 0.5, kNaN, false},
      {"+inf", kInf, 0.5, kInf, false},
      {"+inf against -inf", kInf, -kInf, kInf, false},
      {"-inf threshold", -3.0, -kInf, -3.0, true},
      {"NaN threshold", 0.7, kNaN, 0.7, false},
      {"no calibrated threshold", 1e300, kMax, 1e300, false},
      {"at the largest float", kMax, kMax, kMax, true},
  };
  for (const auto& c : cases) {
    const auto decisions = apply_policy(std::vector{top_probability("q", c.probability)},
                                        make_policy(ScoringMethod::MaxProb, c.threshold));
    ASSERT_EQ(decisions.size(), 1u) << c.name;
    const AnnotationDecision& d = decisions[0];
    EXPECT_EQ(d.query_id, "q") << c.name;
    EXPECT_EQ(d.candidate_id, "top") << c.name;
    EXPECT_TRUE(same_bits(d.confidence, c.confidence)) << c.name << ": " << d.confidence;
    EXPECT_EQ(d.accepted, c.accepted) << c.name;
    EXPECT_TRUE(same_bits(d.threshold, c.threshold)) << c.name;
    EXPECT_EQ(d.method, "MaxProb") << c.name;
  }
}

TEST(ApplyPolicyTest, OneDecisionPerQueryWithCandidatesInInputOrder) {
  const std::vector<QueryRanking> queries = {
      top_probability("b", 0.7), make_query("empty", {}),
      // Unlabelled or not, every query is decided.
      make_query("a", {{.rank = 1, .probability = 0.2, .correct = true, .id = "x"}})};
  const auto decisions = apply_policy(queries, make_policy(ScoringMethod::CandidateCount, 0.6));
  ASSERT_EQ(decisions.size(), 2u);
  EXPECT_EQ(decisions[0].query_id, "b");
  EXPECT_EQ(decisions[0].candidate_id, "top");
  EXPECT_EQ(decisions[0].confidence, 0.5);
  EXPECT_FALSE(decisions[0].accepted);
  EXPECT_EQ(decisions[0].method, "CandidateCount");
  EXPECT_EQ(decisions[1].query_id, "a");
  EXPECT_EQ(decisions[1].candidate_id, "x");
  EXPECT_TRUE(decisions[1].accepted);
}

TEST(ApplyPolicyTest, GroupThresholds) {
  using Map = GroupThresholds;
  const struct {
    const char* name;
    std::optional<std::string> group;
    std::optional<Map> thresholds;
    double applied;
  } cases[] = {
      {"group A", "A", Map{{"A", 0.9}, {"B", 0.1}}, 0.9},
      {"group B", "B", Map{{"A", 0.9}}, 0.5},
      {"no group", std::nullopt, Map{{"A", 0.9}}, 0.5},
      {"no map", "A", std::nullopt, 0.5},
      {"empty map", "A", Map{}, 0.5},
      {"empty label", "", Map{{"", 0.2}}, 0.2},
  };
  for (const auto& c : cases) {
    const auto decisions = apply_policy(std::vector{top_probability("q", 0.7, c.group)},
                                        make_policy(ScoringMethod::MaxProb, 0.5, c.thresholds));
    ASSERT_EQ(decisions.size(), 1u) << c.name;
    EXPECT_EQ(decisions[0].threshold, c.applied) << c.name;
    EXPECT_EQ(decisions[0].accepted, 0.7 >= c.applied) << c.name;
  }
  // Only the top candidate's group counts.
  const QueryRanking runner_up_grouped =
      make_query("q", {{.rank = 2, .group = "A"}, {.rank = 1, .probability = 0.7, .id = "top"}});
  EXPECT_EQ(apply_policy(std::vector{runner_up_grouped},
                         make_policy(ScoringMethod::MaxProb, 0.5, Map{{"A", 0.9}}))[0]
                .threshold,
            0.5);
}

TEST(ApplyPolicyTest, MethodDisplayNames) {
  const char* names[] = {"MaxProb",    "ScoreGap", "Margin",     "Entropy",
                         "ScoreRatio", "TopKGap",  "EffectiveK", "CandidateCount"};
  for (int m = 0; m < kScoringMethodCount; ++m) {
    const auto decisions = apply_policy(std::vector{top_probability("q", 0.7)},
                                        make_policy(static_cast<ScoringMethod>(m), 0.0));
    EXPECT_EQ(decisions.at(0).method, names[m]);
  }
}

}  // namespace
}  // namespace ferolin::policy
