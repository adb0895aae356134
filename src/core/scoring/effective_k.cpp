#include "core/scoring/effective_k.h"

#include <cmath>

#include "core/scoring/score_helpers.h"

namespace ferolin::scoring::effective_k {

std::optional<double> score(const QuerySummary& summary) {
  if (summary.count == 0 || summary.probability_missing) return std::nullopt;
  return finite_or_absent(std::exp(-summary.entropy_sum));
}

}  // namespace ferolin::scoring::effective_k
