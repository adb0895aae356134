// The scoring, curve and decisions of queries held whole (QueryRanking):
// each query summarised from its full candidate list, then handed to the
// core's methods, curve and decision rule. The core itself summarises
// tables row by row and never holds a query's candidates; the tests check
// that both ways give the same results bit for bit.
#pragma once

#include <optional>
#include <vector>

#include "core/scoring/query_summary.h"
#include "core/table/candidate_row.h"
#include "core/types.h"
#include "reference/candidate_records.h"

namespace ferolin::reference {

// Returns the view of a candidate record or of a table row; it borrows
// their strings.
[[nodiscard]] scoring::CandidateView view_of(const Candidate& candidate);
[[nodiscard]] scoring::CandidateView view_of(const table::CandidateRow& row);

// Returns the summary of all the query's candidates in list order.
[[nodiscard]] scoring::QuerySummary summarize(const QueryRanking& query);

// Returns the confidence of `query` by `method`: the score of its summary.
[[nodiscard]] std::optional<double> compute_confidence(const QueryRanking& query,
                                                       ScoringMethod method);

// Returns the curve of the queries whose top candidate carries a label, as
// metrics::compute_curve gives it for their summaries. Queries without
// candidates are skipped; the order of the queries does not matter.
[[nodiscard]] std::vector<RiskCoverageRow> compute_curve(const std::vector<QueryRanking>& queries,
                                                         ScoringMethod method);

// Returns one decision per query that has candidates, in the order of
// `queries`: the top candidate's id, the confidence by the policy's method
// (NaN when absent), the threshold applied (the top candidate's group's, or
// else the policy's) and whether the confidence is finite and at least that
// threshold.
[[nodiscard]] std::vector<AnnotationDecision> apply_policy(const std::vector<QueryRanking>& queries,
                                                           const PolicyFile& policy);

}  // namespace ferolin::reference
