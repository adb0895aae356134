// convert_record: the known cells of one record of a candidates table,
// converted in field order. Its first failure is the one every read of a
// table reports for a record that does not pass, however far the reader
// converted the record before.
#pragma once

#include <optional>

#include "core/error.h"
#include "core/table/candidate_row.h"
#include "core/table/table_records.h"

namespace ferolin::table {

// Converts the known cells of the current record of `records` into `row`.
// Returns the failure of the leftmost cell that cannot be converted, else
// that of a known column named twice, else nothing.
[[nodiscard]] std::optional<FerolinError> convert_record(const TableRecords& records,
                                                         CandidateRow& row);

}  // namespace ferolin::table
