// read_candidates: reads a whole candidates table into Candidate records,
// the plain reading that the tests compare the core's passes with.
#pragma once

#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/table/candidate_row.h"
#include "reference/candidate_records.h"

namespace ferolin::reference {

struct ReadOptions {
  // false: smiles, inchikey, formula and target_inchikey are still checked
  // (UTF-8) but not kept, which saves memory when no one reads them.
  bool keep_details = true;
};

// Returns a Candidate that owns copies of the row's texts; its details
// (smiles, inchikey, formula, target_inchikey, group) only with `keep_details`.
[[nodiscard]] Candidate to_candidate(const table::CandidateRow& row, bool keep_details = true);

// Returns the rows of the table at `path` as Candidate records in file
// order (possibly none), or the first failure and no records. The reading
// rules and failures are those of CandidateRowSource; `group` is never set.
[[nodiscard]] Result<std::vector<Candidate>> read_candidates(std::string_view path,
                                                             ReadOptions options = {});

}  // namespace ferolin::reference
