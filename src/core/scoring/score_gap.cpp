#include "core/scoring/score_gap.h"

#include "core/scoring/score_helpers.h"

namespace ferolin::scoring::score_gap {

std::optional<double> score(const QuerySummary& summary) {
  const auto scores = top_two_scores(summary);
  if (!scores) return std::nullopt;
  return scores->first - scores->second;
}

}  // namespace ferolin::scoring::score_gap
