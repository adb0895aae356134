// group_by_query: groups the flat list of candidates into one QueryRanking
// per distinct query_id.
#pragma once

#include <vector>

#include "reference/candidate_records.h"

namespace ferolin::reference {

// Returns one QueryRanking per distinct query_id, sorted by the raw bytes of
// the identifiers (a proper prefix first, so "" < "1" < "10" < "2" and
// "Q1" < "q1"); each keeps its candidates in input order. The candidates
// are moved, not copied. Cannot fail.
[[nodiscard]] std::vector<QueryRanking> group_by_query(std::vector<Candidate> candidates);

}  // namespace ferolin::reference
