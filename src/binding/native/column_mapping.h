// The column arguments of the functions that read a table: `columns`, which
// header name (or stream column name) each known column goes by, and
// `group_column`.
#pragma once

#include <optional>
#include <vector>

#include "binding/common/py_ref.h"
#include "core/table/candidate_columns.h"
#include "core/table/table_options.h"

namespace ferolin::binding::native {

// Returns the header names that {known column name: header name} gives
// (None or omitted: none), or nothing with TypeError set for an argument
// that is not a dict of strings, ValueError for a name that is not a known
// column.
[[nodiscard]] std::optional<std::vector<table::HeaderName>> parse_columns(PyObject* object);

// Sets `options`' group column from the argument `group_column` (None or
// omitted: none); false with TypeError set for an argument that is not a str.
[[nodiscard]] bool parse_group_column(PyObject* object, table::TableOptions& options);

}  // namespace ferolin::binding::native
