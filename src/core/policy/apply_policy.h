// apply_policy: one accept/reject decision per query by a stored policy.
#pragma once

#include <vector>

#include "core/scoring/query_summaries.h"
#include "core/types.h"

namespace ferolin::policy {

// Returns one decision per summarised query (built with TopIds::Keep, so
// that they keep what the policy's method reads), in ascending order of the
// bytes of the query ids: the top candidate's id, the confidence by the
// policy's method (NaN when absent), the threshold applied (the top
// candidate's group's, or else the policy's) and whether the confidence is
// finite and at least that threshold.
[[nodiscard]] std::vector<AnnotationDecision> apply_policy(const scoring::QuerySummaries& queries,
                                                           const PolicyFile& policy);

}  // namespace ferolin::policy
