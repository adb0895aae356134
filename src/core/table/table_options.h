// TableOptions: how a candidates table is laid out when it is not the
// default comma-separated table with the standard header names, and what a
// read takes from it beyond the known columns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/os/read_monitor.h"
#include "core/table/candidate_columns.h"
#include "core/table/cell_parsing.h"
#include "core/table/number_spelling.h"

namespace ferolin::table {

struct TableOptions {
  char delimiter = ',';
  std::vector<HeaderName> header_names;
  LabelSpelling labels = LabelSpelling::Exact;
  // How score and probability cells are written; with a missing spelling,
  // such a score reads as NaN and such a probability as absent.
  NumberSpelling numbers;
  // A further column whose cell each row carries as its group label (an
  // empty cell gives no label); the table must have it.
  std::optional<std::string> group_column;
  // A further column whose cell each row carries as its own confidence
  // (an empty cell gives none), read as the group column is.
  std::optional<std::string> confidence_column;
  // The longest field text a read accepts (CsvTokenizer::limit_field_bytes);
  // the module's functions read without a limit.
  std::uint64_t max_field_bytes = UINT64_MAX;
  os::ReadMonitor monitor;
};

}  // namespace ferolin::table
