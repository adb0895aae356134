// The per-query pass over an Arrow C stream (a polars or pandas DataFrame, a
// pyarrow Table or RecordBatchReader, a DuckDB relation, the record batches
// of a Parquet or Arrow IPC file): the batches are read one at a time, only
// the columns of the table's column plan are looked at, and their cells feed
// the same per-query summaries as the rows of a CSV table, in row order, so
// that the results are those of the same table written as CSV, bit for bit.
#pragma once

#include <string>
#include <vector>

#include "core/arrow/arrow_c_abi.h"
#include "core/error.h"
#include "core/pipeline/query_pass.h"
#include "core/pipeline/table_summaries.h"

namespace ferolin::arrow {

// Returns the summaries of every query of the stream, or its first failure:
// a column the plan needs that is missing (the error of a CSV table) or of
// a type that cannot be read, a cell that cannot be read (a null rank or
// score, a negative rank, a misspelled label), the producer's error, or the
// first error of the options' monitor (checked between batches). Takes the
// stream: it is moved out of `*stream` (whose release is then null) and
// released exactly once, with the schema and every batch, whatever happens.
// `header` receives the names of the stream's columns once its schema is read.
// The options' delimiter is not used; header names, the group column, the
// own-confidence column (numbers, kept as their shortest text as a CSV
// table would hold them, or strings) and the label spelling are.
[[nodiscard]] Result<pipeline::TableSummaries> summarize_arrow_stream(
    ArrowArrayStream* stream, const table::TableOptions& options,
    const scoring::SummaryNeeds& needs, scoring::TopIds ids, std::vector<std::string>& header);

// Returns the per-query table of the stream, as run_query_pass() gives that
// of a CSV table; the stream is taken as above.
[[nodiscard]] Result<pipeline::QueryTable> run_arrow_query_pass(
    ArrowArrayStream* stream, const pipeline::PassRequest& request,
    std::vector<std::string>& header);

}  // namespace ferolin::arrow
