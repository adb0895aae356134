#include "core/scoring/candidate_count.h"

namespace ferolin::scoring::candidate_count {

std::optional<double> score(const QuerySummary& summary) {
  if (summary.count == 0) return std::nullopt;
  return 1.0 / static_cast<double>(summary.count);
}

}  // namespace ferolin::scoring::candidate_count
