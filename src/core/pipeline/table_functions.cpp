#include "core/pipeline/table_functions.h"

#include "core/metrics/risk_coverage.h"
#include "core/policy/apply_policy.h"
#include "core/scoring/dispatch.h"
#include "core/scoring/query_summaries.h"
#include "core/table/candidate_row_source.h"

namespace ferolin::pipeline {
namespace {

// Feeds every row of the table into per-query summaries. A failure anywhere
// in the table means no summaries at all.
Result<scoring::QuerySummaries> summarize_table(std::string_view path, scoring::TopIds ids,
                                                ScoringMethod method, os::ReadMonitor monitor) {
  table::TableOptions options;
  options.monitor = std::move(monitor);
  Result<table::CandidateRowSource> source = table::CandidateRowSource::open(path, options);
  if (!source) return std::unexpected(std::move(source.error()));
  scoring::QuerySummaries summaries(ids, scoring::entropy_sum_for(method));
  while (true) {
    Result<const table::CandidateRow*> row = source->next();
    if (!row) return std::unexpected(std::move(row.error()));
    if (*row == nullptr) return summaries;
    summaries.add(**row);
  }
}

}  // namespace

Result<std::vector<RiskCoverageRow>> curve_from_table(std::string_view path, ScoringMethod method,
                                                      os::ReadMonitor monitor) {
  // The curve needs neither ids nor query order: its rows depend only on
  // the confidences and labels.
  Result<scoring::QuerySummaries> summaries =
      summarize_table(path, scoring::TopIds::Drop, method, std::move(monitor));
  if (!summaries) return std::unexpected(std::move(summaries.error()));
  return metrics::compute_curve(summaries->take_unordered(), method);
}

Result<std::vector<AnnotationDecision>> decide_table(std::string_view path,
                                                     const PolicyFile& policy,
                                                     os::ReadMonitor monitor) {
  Result<scoring::QuerySummaries> summaries =
      summarize_table(path, scoring::TopIds::Keep, policy.scoring_method, std::move(monitor));
  if (!summaries) return std::unexpected(std::move(summaries.error()));
  return policy::apply_policy(summaries->take_sorted(), policy);
}

}  // namespace ferolin::pipeline
