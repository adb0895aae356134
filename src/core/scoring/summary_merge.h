// Merging summary records: a query whose rows were summarised in two parts
// of a table, read apart, gets the record that one read of both parts in
// file order gives, except for the entropy sum, which must be replayed term
// by term (floating-point addition is not associative).
#pragma once

#include <cstddef>

#include "core/scoring/query_summary.h"
#include "core/scoring/summary_record.h"

namespace ferolin::scoring {

// Adds to `record` what `later`, the summary of the query's candidates in
// a later part of the table, holds: its count, its leading entries (after
// every kept entry of equal rank, as they come later in the list), its top
// label where its top candidate becomes the top, whether the top is tied,
// and a missing probability.
// A record without candidates (just started) takes `later`'s entropy sum
// as it is; otherwise the sum is left for add_entropy_term(). Returns true
// when `later`'s top candidate is now the record's top candidate.
bool merge_record(const RecordLayout& layout, std::byte* record, EntryPool& pool,
                  const QuerySummary& later);

// Adds one candidate's entropy term to `record`, unless a probability is
// already missing there (the sum no longer counts).
void add_entropy_term(const RecordLayout& layout, std::byte* record,
                      std::optional<double> probability);

}  // namespace ferolin::scoring
