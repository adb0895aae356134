#include "core/policy/apply_policy.h"

#include <cmath>
#include <limits>
#include <string>

#include "core/policy/query_decisions.h"
#include "core/scoring/dispatch.h"

namespace ferolin::policy {
namespace {

AnnotationDecision decide(const std::string& query_id, const scoring::QuerySummary& summary,
                          const PolicyFile& policy) {
  const double confidence = scoring::score(summary, policy.scoring_method)
                                .value_or(std::numeric_limits<double>::quiet_NaN());
  const double threshold = threshold_for(summary.top_group, policy);
  return {query_id,   summary.top_candidate_id,
          confidence, passes_threshold(confidence, threshold),
          threshold,  std::string(display_name(policy.scoring_method))};
}

}  // namespace

std::vector<AnnotationDecision> apply_policy(const std::vector<QueryRanking>& queries,
                                             const PolicyFile& policy) {
  std::vector<AnnotationDecision> decisions;
  decisions.reserve(queries.size());
  for (const QueryRanking& query : queries) {
    if (query.candidates.empty()) continue;
    decisions.push_back(
        decide(query.query_id, scoring::summarize(query, scoring::TopIds::Keep), policy));
  }
  return decisions;
}

std::vector<AnnotationDecision> apply_policy(std::span<const scoring::KeyedSummary> queries,
                                             const PolicyFile& policy) {
  std::vector<AnnotationDecision> decisions;
  decisions.reserve(queries.size());
  for (const scoring::KeyedSummary& query : queries) {
    if (query.summary.count == 0) continue;
    decisions.push_back(decide(query.query_id, query.summary, policy));
  }
  return decisions;
}

}  // namespace ferolin::policy
