#include "core/pipeline/table_summaries.h"

#include <utility>

namespace ferolin::pipeline {

table::RowNeeds row_needs(const scoring::SummaryNeeds& needs, scoring::TopIds ids) {
  return {.candidate_id = ids == scoring::TopIds::Keep, .every_probability = needs.entropy};
}

bool checks_probabilities(const scoring::SummaryNeeds& needs) {
  return needs.probabilities || needs.entropy;
}

Result<TableSummaries> summarize_rows(Result<table::CheckedRowSource> source,
                                      const scoring::SummaryNeeds& needs, scoring::TopIds ids) {
  if (!source) return std::unexpected(std::move(source.error()));
  TableSummaries table{scoring::QuerySummaries(needs, ids)};
  std::optional<ProbabilityCheck> check;
  if (checks_probabilities(needs)) check.emplace();
  while (true) {
    Result<const table::CheckedRow*> row = source->next();
    if (!row) return std::unexpected(std::move(row.error()));
    if (*row == nullptr) break;
    if (table.summaries.prefetch_pays()) table.summaries.prefetch(source->query_id_ahead());
    const std::size_t query = table.summaries.add((*row)->query_id, **row);
    if (check) check->add_cell(query, (*row)->probability_cell);
    ++table.rows;
  }
  if (check) table.probabilities = check->counts();
  return table;
}

}  // namespace ferolin::pipeline
