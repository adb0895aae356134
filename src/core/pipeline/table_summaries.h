// Reads a candidates table into per-query summaries: the one read that the
// curve, the decisions and the per-query pass share. Every cell is checked;
// only what the summaries keep is converted or copied.
#pragma once

#include <cstdint>

#include "core/error.h"
#include "core/pipeline/probability_check.h"
#include "core/scoring/query_summaries.h"
#include "core/scoring/summary_record.h"
#include "core/table/checked_row_source.h"

namespace ferolin::pipeline {

struct TableSummaries {
  scoring::QuerySummaries summaries;
  std::uint64_t rows = 0;  // data rows read (the header not counted)
  // The check of the probability column, for summaries that read it.
  std::optional<ProbabilityCounts> probabilities = std::nullopt;
};

// Returns what a source must hand out for summaries that keep `needs` and,
// with TopIds::Keep, their top candidate's id.
[[nodiscard]] table::RowNeeds row_needs(const scoring::SummaryNeeds& needs, scoring::TopIds ids);

// Returns true when summaries that keep `needs` read the probability
// column, which is then checked (ProbabilityCheck).
[[nodiscard]] bool checks_probabilities(const scoring::SummaryNeeds& needs);

// Returns the summaries of every query of the table that `source` reads
// (opened with row_needs(needs, ids)), or the source's failure or the
// table's first failure: a failure anywhere means no summaries at all.
[[nodiscard]] Result<TableSummaries> summarize_rows(Result<table::CheckedRowSource> source,
                                                    const scoring::SummaryNeeds& needs,
                                                    scoring::TopIds ids);

}  // namespace ferolin::pipeline
