// The own-confidence column of a pass: the top candidate's value in a column
// the table carries, appended after the method columns so that curves,
// calibrations, bootstraps and decisions read it as they read a method's.
#pragma once

#include <optional>
#include <string>

#include "binding/common/py_ref.h"
#include "core/error.h"
#include "core/pipeline/query_pass.h"
#include "core/table/number_spelling.h"

namespace ferolin::binding::native {

// The method recorded for the own column in QueryTable::methods. It scores
// nothing itself: the column's confidences come from the table, and a
// policy calibrated on the column names the column, never this method
// (ferolin_tools rewrites it before a policy leaves the pass).
inline constexpr ScoringMethod kOwnColumnPlaceholder = ScoringMethod::CandidateCount;

struct OwnColumnRequest {
  std::string column;  // the header name
  bool lower_is_better = false;
  // The column is the one read as `score`: its top values are the pass's
  // top scores, and no further column is read.
  bool is_score = false;
  // How the table spells numbers: the column's cells are read so.
  table::NumberSpelling numbers;
};

// Returns the own column that the arguments `confidence_column` (None or
// omitted: none) and `lower_is_better` ask for, having asked `request`'s
// read for it where it is not the score column (under the name `request`'s
// header names give it); nothing with a Python exception set for an
// argument of the wrong type. Both passes, over a file and over an Arrow
// stream, take the same two arguments.
[[nodiscard]] std::optional<std::optional<OwnColumnRequest>> parse_own_column(
    PyObject* column, PyObject* lower_is_better, pipeline::PassRequest& request);

// Appends the own column, where one was asked for, to `table` (read with
// the request parse_own_column made), or returns the failure of a cell that
// is not a number.
[[nodiscard]] Result<void> add_own_column(const std::optional<OwnColumnRequest>& own,
                                          pipeline::QueryTable& table);

}  // namespace ferolin::binding::native
