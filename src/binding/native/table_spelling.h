// How the companion package's reads take tables exported by spreadsheets
// and data-frame libraries: the `decimal` and `na_values` parameters.
#pragma once

#include <optional>

#include "binding/common/py_ref.h"
#include "core/table/number_spelling.h"

namespace ferolin::binding::native {

// Returns the spelling of numbers from `decimal` ("." or ","; omitted or None
// is ".") and `na_values` (a list of str added to the common spellings of a
// missing value), or std::nullopt with an exception set.
[[nodiscard]] std::optional<table::NumberSpelling> number_spelling_parameters(
    PyObject* decimal, PyObject* na_values);

}  // namespace ferolin::binding::native
