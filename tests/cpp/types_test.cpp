#include "core/types.h"

#include <gtest/gtest.h>

namespace ferolin {
namespace {

TEST(TypesTest, MethodNamesBothWays) {
  EXPECT_EQ(display_name(ScoringMethod::TopKGap), "TopKGap");
  EXPECT_EQ(policy_name(ScoringMethod::TopKGap), "top_k_gap");
  EXPECT_EQ(policy_name(CalibrationMethod::Crc), "crc");
  for (int i = 0; i < kScoringMethodCount; ++i) {
    const auto method = static_cast<ScoringMethod>(i);
    EXPECT_EQ(scoring_method_from_policy_name(policy_name(method)), method);
  }
  for (int i = 0; i < kCalibrationMethodCount; ++i) {
    const auto method = static_cast<CalibrationMethod>(i);
    EXPECT_EQ(calibration_method_from_policy_name(policy_name(method)), method);
  }
  for (const char* unknown : {"topk_gap", "Max_Prob", "max-prob", "", "Empirical"}) {
    EXPECT_FALSE(scoring_method_from_policy_name(unknown)) << unknown;
    EXPECT_FALSE(calibration_method_from_policy_name(unknown)) << unknown;
  }
  EXPECT_EQ(calibration_policy_names_list(), "one of `empirical`, `binomial`, `crc`");
}

}  // namespace
}  // namespace ferolin
