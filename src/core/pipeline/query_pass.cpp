#include "core/pipeline/query_pass.h"

#include <algorithm>
#include <utility>

#include "core/scoring/dispatch.h"
#include "core/scoring/query_summaries.h"

namespace ferolin::pipeline {
namespace {

scoring::EntropySum entropy_sum_for(const std::vector<ScoringMethod>& methods) {
  const bool any = std::ranges::any_of(methods, [](ScoringMethod method) {
    return scoring::entropy_sum_for(method) == scoring::EntropySum::Keep;
  });
  return any ? scoring::EntropySum::Keep : scoring::EntropySum::Skip;
}

// Appends one query's entry to every column of the table.
void add_query(QueryTable& table, const scoring::QuerySummary& summary,
               const PassRequest& request) {
  if (request.table.group_column) table.groups.push_back(summary.top_group);
  table.top_scores.push_back(summary.leading[0].score);
  table.top_labels.push_back(summary.top_is_correct);
  table.candidates.push_back(summary.count);
  for (std::size_t m = 0; m < table.methods.size(); ++m) {
    table.confidences[m].push_back(scoring::score(summary, table.methods[m]));
  }
}

QueryTable build_table(scoring::QuerySummaries& summaries, const PassRequest& request) {
  QueryTable table;
  table.methods = request.methods;
  table.confidences.resize(request.methods.size());
  if (!request.keep_ids) {
    for (const scoring::QuerySummary& summary : summaries.take_unordered()) {
      add_query(table, summary, request);
    }
    return table;
  }
  for (const scoring::KeyedSummary& query : summaries.take_sorted()) {
    table.query_ids.push_back(query.query_id);
    table.top_candidate_ids.push_back(query.summary.top_candidate_id);
    add_query(table, query.summary, request);
  }
  return table;
}

Result<QueryTable> run(Result<table::CandidateRowSource> source, const PassRequest& request) {
  if (!source) return std::unexpected(std::move(source.error()));
  const bool keep_top_ids = request.keep_ids || request.table.group_column.has_value();
  scoring::QuerySummaries summaries(keep_top_ids ? scoring::TopIds::Keep : scoring::TopIds::Drop,
                                    entropy_sum_for(request.methods));
  std::uint64_t rows = 0;
  while (true) {
    Result<const table::CandidateRow*> row = source->next();
    if (!row) return std::unexpected(std::move(row.error()));
    if (*row == nullptr) break;
    summaries.add(**row);
    ++rows;
  }
  QueryTable table = build_table(summaries, request);
  table.rows = rows;
  return table;
}

}  // namespace

Result<QueryTable> run_query_pass(std::string_view path, const PassRequest& request) {
  return run(table::CandidateRowSource::open(path, request.table), request);
}

Result<QueryTable> run_query_pass(table::CandidateRowSource::ChunkReader read_chunk,
                                  std::optional<std::uint64_t> size_hint,
                                  const PassRequest& request) {
  return run(
      table::CandidateRowSource::from_chunks(std::move(read_chunk), size_hint, request.table),
      request);
}

}  // namespace ferolin::pipeline
