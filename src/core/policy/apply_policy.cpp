#include "core/policy/apply_policy.h"

#include <cmath>
#include <limits>
#include <string>

#include "core/scoring/dispatch.h"

namespace ferolin::policy {
namespace {

// A group's own threshold applies only when the top candidate names a group
// that the policy's non-empty map holds; everything else falls back to the
// policy's threshold.
double threshold_for(const std::optional<std::string>& group, const PolicyFile& policy) {
  if (!group || !policy.group_thresholds || policy.group_thresholds->empty()) {
    return policy.threshold;
  }
  const auto found = policy.group_thresholds->find(*group);
  return found == policy.group_thresholds->end() ? policy.threshold : found->second;
}

AnnotationDecision decide(const std::string& query_id, const scoring::QuerySummary& summary,
                          const PolicyFile& policy) {
  const double confidence = scoring::score(summary, policy.scoring_method)
                                .value_or(std::numeric_limits<double>::quiet_NaN());
  const double threshold = threshold_for(summary.top_group, policy);
  return {query_id,   summary.top_candidate_id,
          confidence, accepts(confidence, threshold),
          threshold,  std::string(display_name(policy.scoring_method))};
}

}  // namespace

bool accepts(double confidence, double threshold) {
  // An infinite confidence is no evidence of trust: only finite ones pass.
  return std::isfinite(confidence) && confidence >= threshold;
}

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
