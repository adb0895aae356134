#include "core/policy/query_decisions.h"

#include <cmath>
#include <limits>

namespace ferolin::policy {

double threshold_for(std::optional<std::string_view> group, const PolicyFile& policy) {
  if (!group || !policy.group_thresholds || policy.group_thresholds->empty()) {
    return policy.threshold;
  }
  const auto found = policy.group_thresholds->find(*group);
  return found == policy.group_thresholds->end() ? policy.threshold : found->second;
}

bool passes_threshold(double confidence, double threshold) {
  // An infinite confidence is no evidence of trust: only finite ones pass.
  return std::isfinite(confidence) && confidence >= threshold;
}

std::vector<QueryDecision> decide_queries(std::span<const std::optional<double>> confidences,
                                          std::span<const std::optional<std::string>> groups,
                                          const PolicyFile& policy) {
  std::vector<QueryDecision> decisions;
  decisions.reserve(confidences.size());
  for (std::size_t i = 0; i < confidences.size(); ++i) {
    const double confidence = confidences[i].value_or(std::numeric_limits<double>::quiet_NaN());
    std::optional<std::string_view> group;
    if (i < groups.size() && groups[i]) group = *groups[i];
    const double threshold = threshold_for(group, policy);
    decisions.push_back({threshold, passes_threshold(confidence, threshold)});
  }
  return decisions;
}

}  // namespace ferolin::policy
