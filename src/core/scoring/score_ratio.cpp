#include "core/scoring/score_ratio.h"

#include "core/scoring/score_helpers.h"

namespace ferolin::scoring::score_ratio {

std::optional<double> score(const QuerySummary& summary) {
  const auto scores = top_two_scores(summary);
  if (!scores) return std::nullopt;
  const auto [s1, s2] = *scores;
  // Only a strictly positive runner-up gives a meaningful ratio; -0.0 too
  // is refused, since -0.0 <= 0.
  if (s2 <= 0.0) return std::nullopt;
  return finite_or_absent(s1 / s2);
}

}  // namespace ferolin::scoring::score_ratio
