#include "core/error.h"

#include <gtest/gtest.h>

#include <cerrno>

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

}  // namespace
}  // namespace ferolin
