#include "core/metrics/aurc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "core/metrics/operating_points.h"

namespace ferolin::metrics {
namespace {

RiskCoverageRow row(double coverage, std::optional<double> risk, std::uint64_t accepted = 0,
                    std::uint64_t total = 0, std::uint64_t errors = 0) {
  return {0.0, accepted, total, coverage, errors, risk};
}

TEST(AurcTest, EmptyCurveIsNaN) {
  EXPECT_TRUE(std::isnan(compute_aurc({})));
  EXPECT_TRUE(std::isnan(compute_eaurc({})));
}

// The examples are compared bit for bit: both results must be exact.
TEST(AurcTest, WorkedExamples) {
  const double nan = std::nan("");
  const struct {
    const char* name;
    std::vector<RiskCoverageRow> curve;
    double aurc;
    double eaurc;
  } cases[] = {
      {"one row", {row(1.0, 0.25, 4, 4, 1)}, 0.125, 0.09076155433883568},
      {"no errors", {row(1.0, 0.0, 4, 4, 0)}, 0.0, nan},
      {"four rows",
       {row(0.2, 0.0), row(0.6, 0.3333333333333333), row(0.8, 0.25), row(1.0, 0.4, 5, 5, 2)},
       0.19,
       0.09649537425959442},
      {"three rows, short of full coverage",
       {row(0.2, 0.0), row(0.6, 0.3333333333333333), row(0.8, 0.25, 4, 5, 1)},
       0.125,
       nan},
      {"negative excess", {row(0.5, 0.0), row(1.0, 0.5, 2, 2, 1)}, 0.125, -0.028426409720027357},
      {"absent risk counts as zero",
       {row(0.5, 0.5), row(1.0, std::nullopt, 4, 4, 2)},
       0.25,
       0.09657359027997264},
      {"errors above accepted", {row(1.0, 1.0, 2, 2, 3)}, 1.0 * 0.5, nan},
      {"zero total", {row(1.0, 0.5, 0, 0, 0)}, 0.25, nan},
      {"nan coverage", {row(nan, 0.5, 2, 2, 1)}, nan, nan},
      {"nan risk", {row(1.0, nan, 2, 2, 1)}, nan, nan},
  };
  for (const auto& c : cases) {
    const double aurc = compute_aurc(c.curve);
    const double eaurc = compute_eaurc(c.curve);
    if (std::isnan(c.aurc)) {
      EXPECT_TRUE(std::isnan(aurc)) << c.name;
    } else {
      EXPECT_EQ(aurc, c.aurc) << c.name;
    }
    if (std::isnan(c.eaurc)) {
      EXPECT_TRUE(std::isnan(eaurc)) << c.name;
    } else {
      EXPECT_EQ(eaurc, c.eaurc) << c.name;
    }
  }
}

TEST(AurcTest, OptimalTermsOfExamples) {
  // optimal = ln(a) * a + (1 - a), recovered as AURC - E-AURC.
  EXPECT_EQ(0.125 - compute_eaurc(std::vector{row(1.0, 0.25, 4, 4, 1)}), 0.034238445661164324);
  EXPECT_EQ(std::log(0.6) * 0.6 + (1.0 - 0.6), 0.09350462574040558);
  EXPECT_EQ(std::log(0.5) * 0.5 + (1.0 - 0.5), 0.15342640972002736);
}

TEST(AurcTest, FallingCoverageAddsNegativeArea) {
  const std::vector curve = {row(1.0, 0.5), row(0.5, 0.5)};
  EXPECT_EQ(compute_aurc(curve), 0.25 - 0.25);
}

// The curve of five labelled queries with thresholds 0.9, 0.8, 0.5, 0.3.
std::vector<RiskCoverageRow> four_rows() {
  return {row(0.2, 0.0, 1, 5, 0), row(0.6, 0.3333333333333333, 3, 5, 1), row(0.8, 0.25, 4, 5, 1),
          row(1.0, 0.4, 5, 5, 2)};
}

TEST(AugrcTest, WorkedExamples) {
  // (0.2*0 + 0.4*(0+0.2) + 0.2*(0.2+0.2) + 0.2*(0.2+0.4)) / 2
  std::vector curve = four_rows();
  EXPECT_DOUBLE_EQ(compute_augrc(curve), 0.14);
  // Without the last row the area stops at coverage 0.8, as AURC's does.
  curve.pop_back();
  EXPECT_DOUBLE_EQ(compute_augrc(curve), 0.08);
  EXPECT_EQ(compute_augrc(std::vector{row(1.0, 0.25, 4, 4, 1)}), 0.125);
  EXPECT_TRUE(std::isnan(compute_augrc({})));
  EXPECT_TRUE(std::isnan(compute_augrc(std::vector{row(1.0, 0.5, 0, 0, 0)})));
}

TEST(OperatingPointsTest, RiskAtCoverageAndCoverageAtRisk) {
  const std::vector curve = four_rows();
  const struct {
    double at;
    std::optional<double> risk;
  } risks[] = {{0.1, std::nullopt},       {0.2, 0.0},   {0.5, 0.0},
               {0.6, 0.3333333333333333}, {0.95, 0.25}, {1.0, 0.4}};
  for (const auto& c : risks) EXPECT_EQ(risk_at_coverage(curve, c.at), c.risk) << c.at;
  const struct {
    double target;
    std::optional<double> coverage;
  } coverages[] = {{0.3, 0.8}, {0.25, 0.8},          {0.4, 1.0},
                   {0.0, 0.2}, {-0.1, std::nullopt}, {std::nan(""), std::nullopt}};
  for (const auto& c : coverages) {
    EXPECT_EQ(coverage_at_risk(curve, c.target), c.coverage) << c.target;
  }
}

}  // namespace
}  // namespace ferolin::metrics
