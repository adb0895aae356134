#include "core/policy/apply_policy.h"

#include <cmath>
#include <limits>
#include <string>

#include "core/policy/query_decisions.h"
#include "core/scoring/dispatch.h"

namespace ferolin::policy {
namespace {

AnnotationDecision decide(std::string_view query_id, std::string_view top_candidate_id,
                          std::optional<std::string_view> top_group,
                          const scoring::QuerySummary& summary, const PolicyFile& policy) {
  const double confidence = scoring::score(summary, policy.scoring_method)
                                .value_or(std::numeric_limits<double>::quiet_NaN());
  const double threshold = threshold_for(top_group, policy);
  return {std::string(query_id),
          std::string(top_candidate_id),
          confidence,
          passes_threshold(confidence, threshold),
          threshold,
          std::string(display_name(policy.scoring_method))};
}

}  // namespace

std::vector<AnnotationDecision> apply_policy(const scoring::QuerySummaries& queries,
                                             const PolicyFile& policy) {
  std::vector<AnnotationDecision> decisions;
  decisions.reserve(queries.size());
  for (const std::size_t q : queries.numbers_by_id()) {
    decisions.push_back(decide(queries.query_id(q), queries.top_candidate_id(q),
                               queries.top_group(q), queries.summary(q), policy));
  }
  return decisions;
}

}  // namespace ferolin::policy
