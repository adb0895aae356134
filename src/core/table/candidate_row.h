// CandidateRow: one converted row of a candidates table, as the row source
// hands it to its consumer. It views the source's buffers, so it is valid
// only until the source reads the next row; consumers copy what they keep.
#pragma once

#include <optional>
#include <string_view>

#include "core/types.h"

namespace ferolin::table {

// `group` is the cell of the group column, where one was asked for and is
// not empty; `confidence` likewise the cell of the own-confidence column.
struct CandidateRow : CandidateFields<std::string_view>, CandidateDetailFields<std::string_view> {
  std::optional<std::string_view> confidence;
};

}  // namespace ferolin::table
