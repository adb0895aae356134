// Expects two risk-coverage curves to be equal bit for bit, row by row.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "core/types.h"

namespace ferolin::testing {

inline void expect_same_curve(const std::vector<RiskCoverageRow>& a,
                              const std::vector<RiskCoverageRow>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a[i].threshold),
              std::bit_cast<std::uint64_t>(b[i].threshold));
    EXPECT_EQ(a[i].accepted, b[i].accepted);
    EXPECT_EQ(a[i].errors, b[i].errors);
    EXPECT_EQ(a[i].total, b[i].total);
  }
}

}  // namespace ferolin::testing
