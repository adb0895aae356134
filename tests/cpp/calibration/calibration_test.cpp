#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "core/calibration/binomial.h"
#include "core/calibration/calibrate_policy.h"
#include "core/calibration/crc.h"
#include "core/calibration/empirical.h"
#include "support/query_builders.h"

namespace ferolin::calibration {
namespace {

using testing::describe;
using testing::same_bits;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::optional<double> kAbsent = std::nullopt;

RiskCoverageRow row(double threshold, double coverage, std::optional<double> risk,
                    std::uint64_t accepted, std::uint64_t errors, std::uint64_t total = 5) {
  return {threshold, accepted, total, coverage, errors, risk};
}

const std::vector<RiskCoverageRow> kFourRows = {
    row(0.9, 0.2, 0.0, 1, 0), row(0.8, 0.6, 0.3333333333333333, 3, 1), row(0.5, 0.8, 0.25, 4, 1),
    row(0.3, 1.0, 0.4, 5, 2)};

TEST(CalibrationTest, EmpiricalAndCrcOnTheFourRowCurve) {
  const struct {
    const char* name;
    std::optional<double> (*calibrate)(std::span<const RiskCoverageRow>, double);
    double target;
    std::optional<double> expected;
  } cases[] = {
      {"empirical", empirical::calibrate, 0.3, 0.5},
      {"empirical, risk equal to target", empirical::calibrate, 0.25, 0.5},
      {"empirical", empirical::calibrate, 0.2, 0.9},
      {"empirical", empirical::calibrate, 0.4, 0.3},
      {"empirical", empirical::calibrate, 0.0, 0.9},
      {"empirical, negative", empirical::calibrate, -0.1, kAbsent},
      {"empirical, NaN", empirical::calibrate, kNaN, kAbsent},
      {"crc, adjusted 0.13333333333333333", crc::calibrate, 0.3, 0.9},
      {"crc, adjusted 0.33333333333333337", crc::calibrate, 0.5, 0.5},
      {"crc, adjusted negative", crc::calibrate, 0.15, kAbsent},
      {"crc, adjusted exactly 0", crc::calibrate, 1.0 / 6.0, kAbsent},
      {"crc, NaN", crc::calibrate, kNaN, kAbsent},
  };
  for (const auto& c : cases) {
    const auto got = c.calibrate(kFourRows, c.target);
    EXPECT_TRUE(same_bits(got, c.expected)) << c.name << " " << c.target << ": " << describe(got);
    EXPECT_EQ(c.calibrate({}, c.target), std::nullopt) << c.name << ", empty curve";
  }
}

TEST(CalibrationTest, BinomialOnTheFourRowCurve) {
  const struct {
    double target;
    double level;
    std::optional<double> expected;
  } cases[] = {
      {0.3, 0.90, kAbsent}, {0.3, 0.95, kAbsent}, {0.3, 0.975, kAbsent}, {0.3, 0.99, kAbsent},
      {0.8, 0.90, 0.3},     {0.8, 0.95, 0.3},     {0.8, 0.975, 0.3},     {0.8, 0.99, 0.5},
      {0.75, 0.90, 0.3},    {0.75, 0.95, 0.3},    {0.75, 0.975, 0.5},    {0.75, 0.99, kAbsent},
  };
  for (const auto& c : cases) {
    const auto got = binomial::calibrate(kFourRows, c.target, c.level);
    ASSERT_TRUE(got.has_value()) << c.level;
    EXPECT_TRUE(same_bits(*got, c.expected))
        << "target " << c.target << " level " << c.level << ": " << describe(*got);
  }
}

TEST(CalibrationTest, WilsonBoundsToTheLastBit) {
  const struct {
    std::uint64_t accepted;
    std::uint64_t errors;
    double level;
    double bound;
  } cases[] = {
      {4, 1, 0.90, 0.5675607098184529},     {1, 0, 0.95, 0.7301691165062297},
      {100, 5, 0.90, 0.0859292796034301},   {100, 5, 0.95, 0.09916669837830379},
      {100, 5, 0.975, 0.11175196527208817}, {100, 5, 0.99, 0.12760751897898243},
      {100, 0, 0.95, 0.026347285857864715},
  };
  for (const auto& c : cases) {
    const std::optional<double> z = binomial::z_value(c.level);
    ASSERT_TRUE(z.has_value()) << c.level;
    EXPECT_EQ(binomial::wilson_upper_bound(c.accepted, c.errors, *z), c.bound)
        << c.errors << "/" << c.accepted << " at " << c.level;
  }
  // The bound 0.09916669837830379 passes a target of 0.1 but not 0.099.
  const std::vector<RiskCoverageRow> curve = {row(0.7, 1.0, 0.05, 100, 5, 100)};
  EXPECT_EQ(binomial::calibrate(curve, 0.1, 0.95).value(), 0.7);
  EXPECT_EQ(binomial::calibrate(curve, 0.099, 0.95).value(), std::nullopt);
}

TEST(CalibrationTest, BinomialLevels) {
  const struct {
    double level;
    std::uint32_t key;
    std::optional<double> z;
  } cases[] = {
      {0.90, 900, 1.282},
      {0.95, 950, 1.645},
      {0.975, 975, 1.96},
      {0.99, 990, 2.326},
      {0.8995, 900, 1.282},
      {0.9005, 901, kAbsent},
      {0.85, 850, kAbsent},
      {0.5, 500, kAbsent},
      {0.0005, 1, kAbsent},
      {-0.95, 0, kAbsent},
      {kNaN, 0, kAbsent},
      {1e300, 4294967295u, kAbsent},
      {std::numeric_limits<double>::infinity(), 4294967295u, kAbsent},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(binomial::level_key(c.level), c.key) << c.level;
    EXPECT_EQ(binomial::z_value(c.level), c.z) << c.level;
    // The level is checked first: an empty curve fails too.
    const auto empty = binomial::calibrate({}, 0.5, c.level);
    if (c.z) {
      EXPECT_EQ(empty.value(), std::nullopt) << c.level;
      continue;
    }
    ASSERT_FALSE(empty.has_value()) << c.level;
    EXPECT_EQ(empty.error().kind, ErrorKind::UnsupportedConfidenceLevel);
    EXPECT_TRUE(same_bits(empty.error().level, c.level)) << c.level;
  }
  EXPECT_EQ(binomial::calibrate(kFourRows, 0.5, 0.85).error().message(),
            "Unsupported confidence level: 0.85. Supported: 0.90, 0.95, 0.975, 0.99");
}

// Hand-made curves: the widest passing row wins, the later one on equal
// coverage (total order, so -0.0 is narrower than +0.0); a row without
// risk never passes on risk, and a row without accepted queries never
// passes on counts.
TEST(CalibrationTest, WidestRowChoice) {
  const struct {
    const char* name;
    std::vector<RiskCoverageRow> curve;
    std::optional<double> empirical;
    std::optional<double> crc;
    std::optional<double> binomial;
  } cases[] = {
      {"equal coverage, later wins",
       {row(0.7, 0.5, 0.0, 50, 0, 100), row(0.6, 0.5, 0.0, 50, 0, 100)},
       0.6,
       0.6,
       0.6},
      {"-0.0 after +0.0 is narrower",
       {row(0.7, 0.0, 0.0, 50, 0, 100), row(0.6, -0.0, 0.0, 50, 0, 100)},
       0.7,
       0.7,
       0.7},
      {"wider row first",
       {row(0.7, 0.9, 0.0, 90, 0, 100), row(0.6, 0.5, 0.0, 50, 0, 100)},
       0.7,
       0.7,
       0.7},
      {"absent risk",
       {row(0.7, 0.5, 0.0, 50, 0, 100), row(0.6, 0.9, std::nullopt, 90, 0, 100)},
       0.7,
       0.7,
       0.6},
      {"nothing accepted", {row(0.7, 0.0, 0.0, 0, 0, 100)}, 0.7, 0.7, kAbsent},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(same_bits(empirical::calibrate(c.curve, 0.5), c.empirical)) << c.name;
    EXPECT_TRUE(same_bits(crc::calibrate(c.curve, 0.5), c.crc)) << c.name;
    EXPECT_TRUE(same_bits(binomial::calibrate(c.curve, 0.5, 0.95).value(), c.binomial)) << c.name;
  }
}

// One request to one policy: the method's threshold or kNoThreshold, the
// request kept whole, and the two failures of binomial's level.
TEST(CalibrationTest, CalibratePolicy) {
  using enum CalibrationMethod;
  const struct {
    const char* name;
    CalibrationRequest request;
    std::optional<double> threshold;  // absent: kNoThreshold
    std::optional<ErrorKind> error;
  } cases[] = {
      {"empirical", {ScoringMethod::Margin, 0.3, Empirical, std::nullopt}, 0.5, {}},
      {"empirical keeps a level", {ScoringMethod::TopKGap, 0.3, Empirical, 0.95}, 0.5, {}},
      {"empirical, none qualifies", {ScoringMethod::MaxProb, -0.1, Empirical, {}}, kAbsent, {}},
      {"crc", {ScoringMethod::Entropy, 0.5, Crc, {}}, 0.5, {}},
      {"crc, none qualifies", {ScoringMethod::Entropy, 0.15, Crc, {}}, kAbsent, {}},
      {"binomial", {ScoringMethod::ScoreGap, 0.8, Binomial, 0.99}, 0.5, {}},
      {"binomial, none qualifies", {ScoringMethod::ScoreGap, 0.3, Binomial, 0.95}, kAbsent, {}},
      {"binomial without level",
       {ScoringMethod::Margin, 0.8, Binomial, {}},
       kAbsent,
       ErrorKind::MissingConfidenceLevel},
      {"binomial, unsupported level",
       {ScoringMethod::Margin, 0.8, Binomial, 0.8},
       kAbsent,
       ErrorKind::UnsupportedConfidenceLevel},
  };
  for (const auto& c : cases) {
    const Result<PolicyFile> policy = calibrate_policy(kFourRows, c.request);
    if (c.error) {
      ASSERT_FALSE(policy.has_value()) << c.name;
      EXPECT_EQ(policy.error().kind, *c.error) << c.name;
      continue;
    }
    ASSERT_TRUE(policy.has_value()) << c.name << ": " << policy.error().message();
    EXPECT_EQ(policy->version, "0.1.0") << c.name;
    EXPECT_EQ(policy->scoring_method, c.request.score) << c.name;
    EXPECT_EQ(policy->threshold, c.threshold.value_or(1.7976931348623157e308)) << c.name;
    EXPECT_EQ(policy->target_error_rate, c.request.error_rate) << c.name;
    EXPECT_EQ(policy->calibration_method, c.request.method) << c.name;
    EXPECT_EQ(policy->confidence_level, c.request.confidence_level) << c.name;
    EXPECT_EQ(policy->created_by, "ferolin") << c.name;
    EXPECT_FALSE(policy->group_col || policy->group_thresholds) << c.name;
  }
  EXPECT_EQ(calibrate_policy({}, {}).value().threshold, kNoThreshold);
}

}  // namespace
}  // namespace ferolin::calibration
