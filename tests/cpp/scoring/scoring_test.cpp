#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "core/scoring/dispatch.h"
#include "reference/whole_rankings.h"
#include "support/query_builders.h"

namespace ferolin::scoring {
namespace {

using testing::CandidateSpec;
using testing::describe;
using testing::make_query;
using testing::same_bits;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::optional<double> kAbsent = std::nullopt;

using M = ScoringMethod;

struct Case {
  const char* name;
  std::vector<CandidateSpec> candidates;
  ScoringMethod method;
  std::optional<double> expected;
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const auto got = compute_confidence(make_query("q", c.candidates), c.method);
    EXPECT_TRUE(same_bits(got, c.expected))
        << c.name << " / " << display_name(c.method) << ": got " << describe(got) << ", expected "
        << describe(c.expected);
  }
}

std::vector<CandidateSpec> probabilities(std::vector<std::optional<double>> ps) {
  std::vector<CandidateSpec> specs;
  std::uint64_t rank = 1;
  for (const auto& p : ps) specs.push_back({.rank = rank++, .probability = p});
  return specs;
}

std::vector<CandidateSpec> scores(std::vector<double> ss) {
  std::vector<CandidateSpec> specs;
  std::uint64_t rank = 1;
  for (double s : ss) specs.push_back({.rank = rank++, .score = s});
  return specs;
}

TEST(ScoringTest, ProbabilityMethodsWorkedExamples) {
  const auto three = probabilities({0.6, 0.3, 0.1});
  const auto uniform = probabilities({0.25, 0.25, 0.25, 0.25});
  const auto certain = probabilities({1.0, 0.0, 0.0});
  const auto unnormalised = probabilities({0.5, 0.2});
  const auto single = probabilities({0.5});
  const auto single_missing = probabilities({std::nullopt});
  const auto second_missing = probabilities({0.6, std::nullopt});
  check({
      {"0.6 0.3 0.1", three, M::MaxProb, 0.6},
      {"0.6 0.3 0.1", three, M::Entropy, 0.18265457785349004},
      {"0.6 0.3 0.1", three, M::EffectiveK, 0.4074057241457354},
      {"0.6 0.3 0.1", three, M::CandidateCount, 0.3333333333333333},
      {"uniform", uniform, M::Entropy, 0.0},
      {"uniform", uniform, M::EffectiveK, 0.25},
      {"1 0 0", certain, M::Entropy, 1.0},
      {"1 0 0", certain, M::EffectiveK, 1.0},
      {"not summing to 1", unnormalised, M::Entropy, 0.03561438102252745},
      {"not summing to 1", unnormalised, M::EffectiveK, 0.5124966150526038},
      {"single 0.5", single, M::Entropy, 1.0},
      {"single 0.5", single, M::EffectiveK, 0.7071067811865476},
      {"single 0.5", single, M::MaxProb, 0.5},
      {"single 0.5", single, M::CandidateCount, 1.0},
      {"single missing", single_missing, M::Entropy, 1.0},
      {"single missing", single_missing, M::CandidateCount, 1.0},
      {"single missing", single_missing, M::MaxProb, kAbsent},
      {"single missing", single_missing, M::EffectiveK, kAbsent},
      {"second missing", second_missing, M::MaxProb, 0.6},
      {"second missing", second_missing, M::Entropy, kAbsent},
      {"second missing", second_missing, M::EffectiveK, kAbsent},
      // -0.0 is an exact zero too: (-p) * ln(p) would be NaN.
      {"negative zero", probabilities({-0.0, 1.0}), M::Entropy, 1.0},
      {"negative", probabilities({0.9, -0.1}), M::Entropy, kAbsent},
      {"negative", probabilities({0.9, -0.1}), M::EffectiveK, kAbsent},
      {"nan", probabilities({0.9, kNaN}), M::Entropy, kAbsent},
      {"nan", probabilities({0.9, kNaN}), M::EffectiveK, kAbsent},
      {"nan", probabilities({0.9, kNaN}), M::MaxProb, 0.9},
      {"infinite", probabilities({kInf, 0.5}), M::Entropy, kAbsent},
      {"infinite", probabilities({kInf, 0.5}), M::EffectiveK, kAbsent},
      {"infinite top", probabilities({kInf, 0.5}), M::MaxProb, kInf},
      {"nan top", probabilities({kNaN, 0.5}), M::MaxProb, kAbsent},
      {"above one", probabilities({1.5, 0.5}), M::MaxProb, 1.5},
  });
}

TEST(ScoringTest, TopCandidateIsFirstOfSmallestRank) {
  check({
      {"equal ranks",
       {{.rank = 1, .probability = 0.4}, {.rank = 1, .probability = 0.7}},
       M::MaxProb,
       0.4},
      {"ranks 3 1 2",
       {{.rank = 3, .probability = 0.1},
        {.rank = 1, .probability = 0.8},
        {.rank = 2, .probability = 0.2}},
       M::MaxProb,
       0.8},
      {"ranks 2 1", {{.rank = 2, .score = 8.0}, {.rank = 1, .score = 10.0}}, M::ScoreGap, 2.0},
      {"ranks 2 1", {{.rank = 2, .score = 8.0}, {.rank = 1, .score = 10.0}}, M::ScoreRatio, 1.25},
      {"both rank 1", {{.rank = 1, .score = 5.0}, {.rank = 1, .score = 9.0}}, M::ScoreGap, -4.0},
      {"both rank 1",
       {{.rank = 1, .score = 5.0}, {.rank = 1, .score = 9.0}},
       M::ScoreRatio,
       0.5555555555555556},
      // The window holds the first five of a stable rank order, whatever
      // the list order: the rank-9 score is never read.
      {"window by rank",
       {{.rank = 9, .score = kNaN},
        {.rank = 5, .score = 1.0},
        {.rank = 1, .score = 6.0},
        {.rank = 4, .score = 2.0},
        {.rank = 3, .score = 3.0},
        {.rank = 2, .score = 4.0}},
       M::TopKGap,
       3.5},
  });
}

TEST(ScoringTest, RankOrderedMethodsWorkedExamples) {
  auto six = scores({10.0, 8.0, 5.0, 4.0, 3.0, 1.0});
  six[0].probability = 0.6;
  six[1].probability = 0.3;
  const auto tied = scores({3.5, 3.5, 1.0, 0.5, 0.25});
  check({
      {"six", six, M::ScoreGap, 2.0},
      {"six", six, M::ScoreRatio, 1.25},
      {"six", six, M::TopKGap, 5.0},
      {"six", six, M::Margin, 0.3},
      {"three", scores({9.0, 6.0, 3.0}), M::TopKGap, 4.5},
      {"two", scores({9.0, 6.0}), M::TopKGap, 3.0},
      {"tied top", tied, M::ScoreGap, 0.0},
      {"tied top", tied, M::ScoreRatio, 1.0},
      {"tied top", tied, M::TopKGap, 2.1875},
      {"negative top", scores({-2.0, 4.0}), M::ScoreRatio, -0.5},
  });
}

TEST(ScoringTest, RankOrderedMethodsAbsentAndNonFinite) {
  auto missing_runner_up = scores({10.0, 8.0});
  missing_runner_up[0].probability = 0.6;
  auto nan_at_3 = scores({4.0, 2.0, kNaN});
  auto nan_at_7 = scores({7.0, 6.0, 5.0, 4.0, 3.0, 2.0, kNaN});
  check({
      {"single", scores({1.0}), M::ScoreGap, kAbsent},
      {"single", scores({1.0}), M::Margin, kAbsent},
      {"single", scores({1.0}), M::ScoreRatio, kAbsent},
      {"single", scores({1.0}), M::TopKGap, kAbsent},
      {"runner-up zero", scores({1.0, 0.0}), M::ScoreRatio, kAbsent},
      {"runner-up -0", scores({1.0, -0.0}), M::ScoreRatio, kAbsent},
      {"runner-up negative", scores({1.0, -1.0}), M::ScoreRatio, kAbsent},
      {"overflow", scores({1e308, 1e-10}), M::ScoreRatio, kAbsent},
      {"infinite top", scores({kInf, 1.0}), M::ScoreRatio, kAbsent},
      {"missing runner-up probability", missing_runner_up, M::Margin, kAbsent},
      {"missing runner-up probability", missing_runner_up, M::ScoreGap, 2.0},
      {"missing runner-up probability", missing_runner_up, M::ScoreRatio, 1.25},
      {"missing runner-up probability", missing_runner_up, M::TopKGap, 2.0},
      {"nan probability",
       {{.rank = 1, .probability = kNaN}, {.rank = 2, .probability = 0.1}},
       M::Margin,
       kAbsent},
      {"nan at 3", nan_at_3, M::TopKGap, kAbsent},
      {"nan at 3", nan_at_3, M::ScoreGap, 2.0},
      {"nan at 3", nan_at_3, M::ScoreRatio, 2.0},
      {"nan at 7", nan_at_7, M::TopKGap, 7.0 - (6.0 + 5.0 + 4.0 + 3.0) / 4.0},
      {"nan top", scores({kNaN, 1.0}), M::ScoreGap, kAbsent},
      {"nan top", scores({kNaN, 1.0}), M::TopKGap, kAbsent},
      {"nan runner-up", scores({1.0, kNaN}), M::ScoreGap, kAbsent},
      // Infinities pass the NaN tests and the result is returned as is.
      {"infinite gap", scores({kInf, 1.0}), M::ScoreGap, kInf},
      {"cancelling", scores({kInf, kInf}), M::ScoreGap, kInf - kInf},
      {"cancelling", scores({kInf, kInf, 1.0}), M::TopKGap, kInf - kInf / 2.0},
      {"minus infinity", scores({1.0, kInf}), M::TopKGap, -kInf},
      // The sum starts at -0.0: -0.0 - (-0.0) is +0.0, -0.0 - (+0.0) would be -0.0.
      {"negative zeros", scores({-0.0, -0.0, -0.0}), M::TopKGap, 0.0},
      {"negative zeros", scores({-0.0, -0.0}), M::ScoreGap, 0.0},
  });
}

TEST(ScoringTest, EmptyQueryIsAbsentForEveryMethod) {
  for (int m = 0; m < kScoringMethodCount; ++m) {
    const auto method = static_cast<ScoringMethod>(m);
    EXPECT_EQ(compute_confidence(make_query("q", {}), method), std::nullopt)
        << display_name(method);
  }
}

TEST(ScoringTest, EntropySumStartsAtNegativeZeroAndAddsZeros) {
  const struct {
    const char* name;
    std::vector<std::optional<double>> probabilities;
    double sum;
  } cases[] = {
      {"0.6 0.3 0.1", {0.6, 0.3, 0.1}, 0.8979457248567797},
      {"not summing to 1", {0.5, 0.2}, 0.6684611727667927},
      {"1 0 0", {1.0, 0.0, 0.0}, 0.0},
      // (-1) * ln(1) is -0.0, and -0.0 + -0.0 stays -0.0.
      {"one", {1.0}, -0.0},
  };
  for (const auto& c : cases) {
    const QuerySummary summary = summarize(make_query("q", probabilities(c.probabilities)));
    EXPECT_TRUE(same_bits(summary.entropy_sum, c.sum))
        << c.name << ": got " << describe(summary.entropy_sum);
  }
}

}  // namespace
}  // namespace ferolin::scoring
