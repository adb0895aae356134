// The per-query pass: one read of a candidates table that keeps, for each
// query, what every later step needs (its top candidate, its number of
// candidates and its confidence by each requested scoring method), so that
// curves, calibration, decisions and per-query tables for several methods
// come from a single read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/pipeline/probability_check.h"
#include "core/pipeline/table_summaries.h"
#include "core/table/table_records.h"
#include "core/text_column.h"
#include "core/types.h"

namespace ferolin::pipeline {

// What a pass keeps of each query.
struct PassRequest {
  // One confidence column per entry, in this order; repeats are allowed.
  std::vector<ScoringMethod> methods;
  // Keep each query's id and its top candidate's id; the result is then in
  // ascending order of the ids' bytes (a proper prefix first).
  bool keep_ids = false;
  // The table's layout, the group column (its top candidate's cell goes to
  // `groups`) and the monitor of the read.
  table::TableOptions table;
  // Threads that read a regular file (os::thread_count() when absent); the
  // result is the same for any number.
  std::optional<std::size_t> threads;
};

// One entry per query that has candidates, in columns. The top candidate is
// the one with the smallest rank, the first in the file among equal ranks.
struct QueryTable {
  std::vector<ScoringMethod> methods;
  TextColumn query_ids;          // empty unless PassRequest::keep_ids
  TextColumn top_candidate_ids;  // empty unless PassRequest::keep_ids
  // The top candidate's group label; empty unless a group column was asked
  // for, and then absent where the cell is empty.
  std::vector<std::optional<std::string>> groups;
  // The top candidate's cell in the own-confidence column, as the group
  // label is kept (own_confidence.h converts it).
  std::vector<std::optional<std::string>> confidence_cells;
  std::vector<double> top_scores;
  std::vector<std::optional<bool>> top_labels;
  std::vector<std::uint64_t> candidates;  // number of candidates (rows) of each query
  // confidences[m][q]: query q's confidence by methods[m]; absent where the
  // method cannot score the query.
  std::vector<std::vector<std::optional<double>>> confidences;
  // Data rows read (the header not counted).
  std::uint64_t rows = 0;
  // The check of the probability column, where a method read it.
  std::optional<ProbabilityCounts> probabilities;
  // Queries with two or more rows at their smallest rank: their top
  // candidate, and so their label, depends on the order of the rows.
  std::uint64_t tied_tops = 0;

  [[nodiscard]] std::size_t size() const { return top_scores.size(); }
};

// Returns the per-query table of the candidates table at `path`, or the
// table's first failure (the same errors, in the same order, as every other
// read of a table), or the first error of the request's monitor.
[[nodiscard]] Result<QueryTable> run_query_pass(std::string_view path, const PassRequest& request);

// Returns the same from the bytes that `read_chunk` hands out (a stream that
// is not a plain file, e.g. decompressed on the fly).
[[nodiscard]] Result<QueryTable> run_query_pass(table::TableRecords::ChunkReader read_chunk,
                                                std::optional<std::uint64_t> size_hint,
                                                const PassRequest& request);

// Reads the summaries of a table that is not CSV text (an Arrow stream) with
// the needs and the top ids that the request gives.
using SummaryReader =
    std::function<Result<TableSummaries>(const scoring::SummaryNeeds&, scoring::TopIds)>;

// Returns the per-query table of the summaries that `read` gives.
[[nodiscard]] Result<QueryTable> run_query_pass(const SummaryReader& read,
                                                const PassRequest& request);

}  // namespace ferolin::pipeline
