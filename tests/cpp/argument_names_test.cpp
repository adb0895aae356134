#include "core/argument_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace ferolin {
namespace {

TEST(ArgumentNamesTest, EveryMethodByItsPolicyNameWithUnderscoresOrHyphens) {
  const struct {
    const char* name;
    std::optional<ScoringMethod> method;
  } cases[] = {
      {"max-prob", ScoringMethod::MaxProb},
      {"max_prob", ScoringMethod::MaxProb},
      {"topk-gap", ScoringMethod::TopKGap},
      {"topk_gap", ScoringMethod::TopKGap},
      {"top_k_gap", std::nullopt},
      {"Max-Prob", std::nullopt},
      {" margin", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(scoring_method_from_argument(c.name), c.method) << c.name;
  for (int i = 0; i < kScoringMethodCount; ++i) {
    const auto method = static_cast<ScoringMethod>(i);
    // Arguments spell "top_k_gap" as "topk_gap".
    std::string underscored(policy_name(method));
    if (method == ScoringMethod::TopKGap) underscored = "topk_gap";
    std::string hyphenated = underscored;
    std::replace(hyphenated.begin(), hyphenated.end(), '_', '-');
    EXPECT_EQ(scoring_method_from_argument(underscored), method) << underscored;
    EXPECT_EQ(scoring_method_from_argument(hyphenated), method) << hyphenated;
  }
  EXPECT_EQ(calibration_method_from_argument("crc"), CalibrationMethod::Crc);
  EXPECT_EQ(calibration_method_from_argument("Empirical"), std::nullopt);
}

}  // namespace
}  // namespace ferolin
