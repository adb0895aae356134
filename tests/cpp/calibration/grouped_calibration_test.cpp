#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/calibration/grouped.h"
#include "core/metrics/risk_coverage.h"
#include "core/policy/query_decisions.h"
#include "reference/whole_rankings.h"
#include "support/query_builders.h"

namespace ferolin::calibration {
namespace {

using testing::make_query;
using testing::same_bits;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct PerQuery {
  std::vector<std::optional<double>> confidences;
  std::vector<std::optional<bool>> labels;
  std::vector<std::optional<std::string>> groups;

  void add(std::optional<double> confidence, std::optional<bool> correct,
           std::optional<std::string> group) {
    confidences.push_back(confidence);
    labels.push_back(correct);
    groups.push_back(std::move(group));
  }
};

// Two groups of 200 queries with confidences i / 200 that need clearly
// different thresholds for a target of 0.1: in "easy" the top candidate is
// wrong below i = 60, in "hard" below i = 140. Empirically the easy group
// needs 45 / 200, the hard one 134 / 200, and both pooled 125 / 200, which
// leaves the hard group at a risk of 0.2. A group of 10 correct queries,
// unlabelled queries and queries without a group come on top.
PerQuery two_populations() {
  PerQuery data;
  for (int i = 1; i <= 200; ++i) {
    const double confidence = i / 200.0;
    data.add(confidence, i >= 60, "easy");
    data.add(confidence, i >= 140, "hard");
    data.add(confidence, std::nullopt, "hard");
  }
  for (int i = 0; i < 10; ++i) data.add(0.99, true, "tiny");
  data.add(0.98, true, std::nullopt);
  data.add(0.1, false, std::nullopt);
  return data;
}

const GroupedRequest kEmpirical{
    {ScoringMethod::MaxProb, 0.1, CalibrationMethod::Empirical, std::nullopt}, "mode"};

TEST(GroupedCalibrationTest, EachGroupMeetsTheTargetWhereTheGlobalThresholdDoesNot) {
  const PerQuery data = two_populations();
  const auto result = calibrate_groups(data.confidences, data.labels, data.groups, kEmpirical);
  ASSERT_TRUE(result.has_value()) << result.error().message();
  const auto global = choose_threshold(metrics::compute_curve(data.confidences, data.labels),
                                       kEmpirical.calibration);
  EXPECT_EQ(result->policy.threshold, global.value().value());
  EXPECT_EQ(result->policy.group_col, "mode");
  // Compared as ordered maps: two keyed hash maps hash with different keys.
  ASSERT_TRUE(result->policy.group_thresholds.has_value());
  EXPECT_EQ((std::map<std::string, double>(result->policy.group_thresholds->begin(),
                                           result->policy.group_thresholds->end())),
            (std::map<std::string, double>{{"easy", 45 / 200.0}, {"hard", 134 / 200.0}}));

  ASSERT_EQ(result->groups.size(), 3u);
  const struct {
    const char* group;
    std::uint64_t labelled;
    std::optional<double> threshold;
  } expected[] = {{"easy", 200, 45 / 200.0}, {"hard", 200, 134 / 200.0}, {"tiny", 10, {}}};
  for (std::size_t g = 0; g < 3; ++g) {
    const GroupReport& report = result->groups[g];
    EXPECT_EQ(report.group, expected[g].group);
    EXPECT_EQ(report.outcome.labelled, expected[g].labelled) << report.group;
    EXPECT_TRUE(same_bits(report.threshold, expected[g].threshold)) << report.group;
    ASSERT_TRUE(report.outcome.risk.has_value()) << report.group;
    EXPECT_LE(*report.outcome.risk, 0.1) << report.group;
  }
  // The global threshold alone accepts the hard group at twice the target.
  PolicyFile global_only = result->policy;
  global_only.group_thresholds.reset();
  std::uint64_t accepted = 0;
  std::uint64_t errors = 0;
  const auto decisions = policy::decide_queries(data.confidences, data.groups, global_only);
  for (std::size_t i = 0; i < decisions.size(); ++i) {
    if (data.groups[i] != "hard" || !data.labels[i] || !decisions[i].accepted) continue;
    ++accepted;
    if (!*data.labels[i]) ++errors;
  }
  EXPECT_GT(static_cast<double>(errors) / static_cast<double>(accepted), 0.15);

  EXPECT_EQ(result->ungrouped.labelled, 2u);
  EXPECT_EQ(result->ungrouped.accepted, 1u);
  EXPECT_EQ(result->grouped_policy.labelled, 412u);
  EXPECT_EQ(result->global_only.labelled, 412u);
  EXPECT_GT(result->grouped_policy.accepted, result->global_only.accepted);
}

TEST(GroupedCalibrationTest, EveryMethodCalibratesEachGroupOnItsOwnCurve) {
  const PerQuery data = two_populations();
  const CalibrationRequest methods[] = {
      {ScoringMethod::MaxProb, 0.1, CalibrationMethod::Crc, std::nullopt},
      {ScoringMethod::MaxProb, 0.2, CalibrationMethod::Binomial, 0.95},
      {ScoringMethod::MaxProb, 0.1, CalibrationMethod::Empirical, std::nullopt}};
  for (const CalibrationRequest& method : methods) {
    const GroupedRequest request{method, "mode", 10};
    const auto result = calibrate_groups(data.confidences, data.labels, data.groups, request);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->policy.calibration_method, method.method);
    for (const GroupReport& report : result->groups) {
      PerQuery own;
      for (std::size_t i = 0; i < data.labels.size(); ++i) {
        if (data.groups[i] == report.group) own.add(data.confidences[i], data.labels[i], {});
      }
      const auto expected =
          choose_threshold(metrics::compute_curve(own.confidences, own.labels), method).value();
      EXPECT_TRUE(same_bits(report.threshold, expected.value_or(kNoThreshold)))
          << report.group << " " << policy_name(method.method);
    }
  }
}

TEST(GroupedCalibrationTest, SmallGroupsFallBackToTheGlobalThreshold) {
  const PerQuery data = two_populations();
  const struct {
    std::uint64_t min_group;
    std::vector<std::string> with_entry;
  } cases[] = {
      {50, {"easy", "hard"}},
      {10, {"easy", "hard", "tiny"}},
      {0, {"easy", "hard", "tiny"}},
      {201, {}},
  };
  for (const auto& c : cases) {
    GroupedRequest request = kEmpirical;
    request.min_group = c.min_group;
    const auto result = calibrate_groups(data.confidences, data.labels, data.groups, request);
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->policy.group_thresholds.has_value());
    EXPECT_EQ(result->policy.group_thresholds->size(), c.with_entry.size()) << c.min_group;
    for (const GroupReport& report : result->groups) {
      const bool own =
          std::find(c.with_entry.begin(), c.with_entry.end(), report.group) != c.with_entry.end();
      EXPECT_EQ(report.threshold.has_value(), own) << report.group << " " << c.min_group;
    }
  }
  // A group whose curve has no qualifying row rejects everything rather
  // than borrow the global threshold.
  PerQuery hopeless = two_populations();
  for (int i = 0; i < 60; ++i) hopeless.add(0.5, false, "bad");
  const auto result =
      calibrate_groups(hopeless.confidences, hopeless.labels, hopeless.groups, kEmpirical);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->policy.group_thresholds->at("bad"), kNoThreshold);
  EXPECT_EQ(result->groups.front().group, "bad");
  EXPECT_EQ(result->groups.front().outcome.accepted, 0u);
}

TEST(GroupedCalibrationTest, ReportsInByteOrderAndFailsLikeCalibration) {
  PerQuery data;
  for (const char* label : {"b", "\xC3\xA9", "B", "a", "b"}) data.add(0.5, true, label);
  GroupedRequest request = kEmpirical;
  request.min_group = 1;
  const auto result = calibrate_groups(data.confidences, data.labels, data.groups, request);
  ASSERT_TRUE(result.has_value());
  std::vector<std::string> order;
  for (const GroupReport& report : result->groups) order.push_back(report.group);
  EXPECT_EQ(order, (std::vector<std::string>{"B", "a", "b", "\xC3\xA9"}));

  GroupedRequest binomial = kEmpirical;
  binomial.calibration.method = CalibrationMethod::Binomial;
  EXPECT_EQ(calibrate_groups(data.confidences, data.labels, data.groups, binomial).error().kind,
            ErrorKind::MissingConfidenceLevel);
  data.groups.pop_back();
  EXPECT_EQ(calibrate_groups(data.confidences, data.labels, data.groups, request).error().kind,
            ErrorKind::InvalidArgument);
}

// decide_queries must give apply_policy's decision for every query whose
// top candidate's group is known.
TEST(QueryDecisionsTest, SameDecisionsAsApplyPolicy) {
  using Map = GroupThresholds;
  const std::optional<double> confidences[] = {
      0.7, 0.5, 0.2, kInf, -kInf, kNaN, std::nullopt, std::numeric_limits<double>::max()};
  const std::optional<std::string> groups[] = {"A", "B", "", std::nullopt};
  const std::optional<Map> maps[] = {Map{{"A", 0.9}, {"", 0.1}}, Map{}, std::nullopt,
                                     Map{{"B", -kInf}}, Map{{"A", kNaN}}};
  for (const auto& map : maps) {
    const PolicyFile policy = testing::make_policy(ScoringMethod::MaxProb, 0.5, map);
    std::vector<reference::QueryRanking> queries;
    std::vector<std::optional<double>> per_query_confidence;
    std::vector<std::optional<std::string>> per_query_group;
    for (const auto& confidence : confidences) {
      for (const auto& group : groups) {
        queries.push_back(make_query("q", {{.probability = confidence, .group = group}}));
        per_query_confidence.push_back(confidence);
        per_query_group.push_back(group);
      }
    }
    const auto expected = reference::apply_policy(queries, policy);
    const auto got = policy::decide_queries(per_query_confidence, per_query_group, policy);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_TRUE(same_bits(got[i].threshold, expected[i].threshold)) << i;
      EXPECT_EQ(got[i].accepted, expected[i].accepted) << i;
    }
  }
}

}  // namespace
}  // namespace ferolin::calibration
