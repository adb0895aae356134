// How the companion package's reads take tables exported by spreadsheets
// and data-frame libraries: the `decimal` and `na_values` parameters, and the
// cell that stopped a read, handed back for the package to word.
#pragma once

#include <optional>

#include "binding/common/py_ref.h"
#include "core/error.h"
#include "core/table/number_spelling.h"

namespace ferolin::binding::native {

// Returns the spelling of numbers from `decimal` ("." or ","; omitted or None
// is ".") and `na_values` (a list of str added to the common spellings of a
// missing value), or std::nullopt with an exception set.
[[nodiscard]] std::optional<table::NumberSpelling> number_spelling_parameters(
    PyObject* decimal, PyObject* na_values);

// Returns {"line", "field", "cell", "reason"} for a cell that failed to
// convert, None for any other failure, or an empty PyRef with an exception set.
[[nodiscard]] PyRef cell_failure_dict(const std::optional<CellFailure>& failure);

}  // namespace ferolin::binding::native
