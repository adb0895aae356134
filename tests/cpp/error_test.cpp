#include "core/error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <string>

#include "core/number_format.h"
#include "core/types.h"

namespace ferolin {
namespace {

TEST(ErrorTest, DisplayTexts) {
  const struct {
    FerolinError error;
    const char* text;
  } cases[] = {
      {FerolinError::csv("No such file or directory (os error 2)"),
       "CSV error: No such file or directory (os error 2)"},
      {FerolinError::io("Permission denied (os error 13)"),
       "IO error: Permission denied (os error 13)"},
      {FerolinError::json("trailing characters at line 1 column 3"),
       "JSON error: trailing characters at line 1 column 3"},
      {FerolinError::missing_column("rank"), "Missing required column: rank"},
      {FerolinError::unknown_policy_version("0.2.0"), "Unknown policy version: 0.2.0"},
      {FerolinError::unsupported_confidence_level(0.8),
       "Unsupported confidence level: 0.8. Supported: 0.90, 0.95, 0.975, 0.99"},
      {FerolinError::missing_confidence_level(), "confidence_level required for binomial method"},
      {FerolinError::parquet_not_compiled(),
       "Parquet input detected but ferolin was compiled without the 'parquet' feature; "
       "recompile with --features parquet"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.message(), c.text);
}

TEST(ErrorTest, OsErrorTextCarriesNumber) {
  EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
  EXPECT_EQ(os_error_text(EACCES), "Permission denied (os error 13)");
}

TEST(NumberFormatTest, PlainDecimalNeverUsesExponent) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    std::string text;
  } cases[] = {
      {0.8, "0.8"},
      {1.0, "1"},
      {0.0, "0"},
      {-0.0, "-0"},
      {0.85, "0.85"},
      {0.8995, "0.8995"},
      {-2.5, "-2.5"},
      {1e-7, "0.0000001"},
      {123456.789, "123456.789"},
      {1e23, "1" + std::string(23, '0')},
      {1e300, "1" + std::string(300, '0')},
      {5e-324, "0." + std::string(323, '0') + "5"},
      {std::nan(""), "NaN"},
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_plain_decimal(c.value), c.text) << c.text;
}

TEST(NumberFormatTest, JsonNumberLayout) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1.0, "1.0"},
      {0.05, "0.05"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1000000000000000.0, "1000000000000000.0"},
      {0.00001, "0.00001"},
      {1e16, "1e16"},
      {1e-6, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {-2.5e20, "-2.5e20"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {5e-324, "5e-324"},
      {0.1 + 0.2, "0.30000000000000004"},
      {123.0, "123.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_json_number(c.value), c.text) << c.text;
}

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

TEST(TypesTest, CandidateDetailsCopyDeeplyAndCompareByValue) {
  Candidate a;
  a.query_id = "q";
  a.details.mut().smiles = "CCO";
  Candidate b = a;
  EXPECT_EQ(a, b);
  b.details.mut().smiles = "CCN";
  EXPECT_EQ(*a.details.get()->smiles, "CCO");
  EXPECT_NE(a, b);
  Candidate empty, all_absent;
  all_absent.details.mut();
  EXPECT_EQ(empty, all_absent);  // an all-absent box equals no box
}

}  // namespace
}  // namespace ferolin
