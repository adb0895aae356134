#include "core/pipeline/query_pass.h"

#include <string>
#include <utility>

#include "core/pipeline/parallel_pass.h"
#include "core/pipeline/table_summaries.h"
#include "core/scoring/dispatch.h"

namespace ferolin::pipeline {
namespace {

// Every pass keeps each query's count and top score beside what its methods read.
scoring::SummaryNeeds needs_of(const PassRequest& request) {
  // Two leading candidates show whether the top rank is tied.
  scoring::SummaryNeeds needs{.depth = 2, .scores = true, .count = true};
  for (const ScoringMethod method : request.methods) needs = needs | scoring::needs_of(method);
  return needs;
}

scoring::TopIds top_ids_of(const PassRequest& request) {
  const bool keep = request.keep_ids || request.table.group_column.has_value() ||
                    request.table.confidence_column.has_value();
  return keep ? scoring::TopIds::Keep : scoring::TopIds::Drop;
}

// Appends query `q`'s entry to every column of the table.
void add_query(QueryTable& table, const scoring::QuerySummaries& summaries, std::size_t q,
               const PassRequest& request) {
  const scoring::QuerySummary summary = summaries.summary(q);
  if (request.keep_ids) {
    table.query_ids.push_back(summaries.query_id(q));
    table.top_candidate_ids.push_back(summaries.top_candidate_id(q));
  }
  if (request.table.group_column) {
    const std::optional<std::string_view> group = summaries.top_group(q);
    table.groups.push_back(group ? std::optional<std::string>(*group) : std::nullopt);
  }
  if (request.table.confidence_column) {
    const std::optional<std::string_view> cell = summaries.top_confidence(q);
    table.confidence_cells.push_back(cell ? std::optional<std::string>(*cell) : std::nullopt);
  }
  table.top_scores.push_back(summary.leading[0].score);
  table.top_labels.push_back(summary.top_is_correct);
  table.candidates.push_back(summary.count);
  if (summary.leading_size >= 2 && summary.leading[1].rank == summary.leading[0].rank) {
    ++table.tied_tops;
  }
  for (std::size_t m = 0; m < table.methods.size(); ++m) {
    table.confidences[m].push_back(scoring::score(summary, table.methods[m]));
  }
}

QueryTable build_table(const scoring::QuerySummaries& summaries, const PassRequest& request) {
  QueryTable table;
  table.methods = request.methods;
  table.confidences.resize(request.methods.size());
  for (auto& column : table.confidences) column.reserve(summaries.size());
  table.top_scores.reserve(summaries.size());
  table.top_labels.reserve(summaries.size());
  table.candidates.reserve(summaries.size());
  if (!request.keep_ids) {
    for (std::size_t q = 0; q < summaries.size(); ++q) add_query(table, summaries, q, request);
    return table;
  }
  for (const std::size_t q : summaries.numbers_by_id()) add_query(table, summaries, q, request);
  return table;
}

Result<QueryTable> table_of(Result<TableSummaries> read, const PassRequest& request) {
  if (!read) return std::unexpected(std::move(read.error()));
  QueryTable table = build_table(read->summaries, request);
  table.rows = read->rows;
  table.probabilities = read->probabilities;
  return table;
}

}  // namespace

Result<QueryTable> run_query_pass(std::string_view path, const PassRequest& request) {
  const scoring::SummaryNeeds needs = needs_of(request);
  return table_of(
      summarize_table(path, request.table, needs, top_ids_of(request), request.threads), request);
}

Result<QueryTable> run_query_pass(table::TableRecords::ChunkReader read_chunk,
                                  std::optional<std::uint64_t> size_hint,
                                  const PassRequest& request) {
  const scoring::SummaryNeeds needs = needs_of(request);
  return table_of(summarize_rows(table::CheckedRowSource::from_chunks(
                                     std::move(read_chunk), size_hint, request.table,
                                     row_needs(needs, top_ids_of(request))),
                                 needs, top_ids_of(request)),
                  request);
}

Result<QueryTable> run_query_pass(const SummaryReader& read, const PassRequest& request) {
  Result<TableSummaries> summaries = read(needs_of(request), top_ids_of(request));
  if (!summaries) return std::unexpected(std::move(summaries.error()));
  QueryTable table = build_table(summaries->summaries, request);
  table.rows = summaries->rows;
  table.probabilities = summaries->probabilities;
  return table;
}

}  // namespace ferolin::pipeline
