#include "core/pipeline/table_functions.h"

#include <utility>

#include "core/metrics/risk_coverage.h"
#include "core/pipeline/parallel_pass.h"
#include "core/pipeline/table_summaries.h"
#include "core/policy/apply_policy.h"

namespace ferolin::pipeline {
namespace {

Result<TableSummaries> summarize_file(std::string_view path, const scoring::SummaryNeeds& needs,
                                      scoring::TopIds ids, os::ReadMonitor monitor) {
  table::TableOptions options;
  options.monitor = std::move(monitor);
  return summarize_table(path, std::move(options), needs, ids, std::nullopt);
}

}  // namespace

Result<std::vector<RiskCoverageRow>> curve_from_table(std::string_view path, ScoringMethod method,
                                                      os::ReadMonitor monitor) {
  // The curve needs neither ids nor query order: its rows depend only on
  // the confidences and labels.
  Result<TableSummaries> table = summarize_file(path, scoring::needs_of(method),
                                                scoring::TopIds::Drop, std::move(monitor));
  if (!table) return std::unexpected(std::move(table.error()));
  table->summaries.free_ids();
  return metrics::compute_curve(table->summaries, method);
}

Result<std::vector<AnnotationDecision>> decide_table(std::string_view path,
                                                     const PolicyFile& policy,
                                                     os::ReadMonitor monitor) {
  Result<TableSummaries> table = summarize_file(path, scoring::needs_of(policy.scoring_method),
                                                scoring::TopIds::Keep, std::move(monitor));
  if (!table) return std::unexpected(std::move(table.error()));
  return policy::apply_policy(table->summaries, policy);
}

}  // namespace ferolin::pipeline
