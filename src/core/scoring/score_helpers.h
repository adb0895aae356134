// Small rules that several scoring methods share.
#pragma once

#include <cmath>
#include <optional>
#include <utility>

#include "core/scoring/query_summary.h"

namespace ferolin::scoring {

// Returns `value` when it is finite, absent when it is NaN or infinite.
[[nodiscard]] inline std::optional<double> finite_or_absent(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// Returns the scores of the first two candidates in rank order; absent with
// fewer than two candidates or when either score is NaN.
[[nodiscard]] inline std::optional<std::pair<double, double>> top_two_scores(
    const QuerySummary& summary) {
  if (summary.count < 2) return std::nullopt;
  const double s1 = summary.leading[0].score;
  const double s2 = summary.leading[1].score;
  if (std::isnan(s1) || std::isnan(s2)) return std::nullopt;
  return std::pair{s1, s2};
}

}  // namespace ferolin::scoring
