// The `columns` argument of the functions that read a table: which header
// name (or stream column name) each known column goes by.
#pragma once

#include <optional>
#include <vector>

#include "binding/common/py_ref.h"
#include "core/table/candidate_columns.h"

namespace ferolin::binding::native {

// Returns the header names that {known column name: header name} gives
// (None or omitted: none), or nothing with TypeError set for an argument
// that is not a dict of strings, ValueError for a name that is not a known
// column.
[[nodiscard]] std::optional<std::vector<table::HeaderName>> parse_columns(PyObject* object);

}  // namespace ferolin::binding::native
