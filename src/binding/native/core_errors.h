// Core failures as the private module raises them: one exception class,
// CoreError (a RuntimeError whose text is the core's message), with the
// failure's kind and facts as attributes, so that the package words and
// classifies a failure from its facts, never from its text.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "binding/common/py_ref.h"
#include "core/error.h"

namespace ferolin::binding::native {

// Returns a new class ferolin_tools._native.CoreError, derived from
// RuntimeError; nullptr with an exception set on failure.
[[nodiscard]] PyObject* new_core_error_class();

// Where a table's failure happened, for the messages the package words.
struct TableContext {
  std::span<const std::string> header;    // the header's fields, as far as read
  std::optional<std::size_t> source;      // of several tables, the one at fault
};

// Sets CoreError for `error`: `kind` is the snake_case name of its kind
// ("missing_column", "bad_cell", ...), and by kind it has column (a
// missing column); line, field, value and reason (a cell, reason one of
// "empty_integer", "invalid_digit", "integer_too_large", "empty_float",
// "invalid_float", "invalid_bool"); record, line, byte, field, limit and
// whole_record (too long); key, expected, found, value, line and column (a
// JSON value of the wrong type); path (a file not written or not opened).
// With `table`, also header and source (None when not one of several).
// Returns nullptr.
PyObject* raise_core_error(PyObject* module, const FerolinError& error,
                           const std::optional<TableContext>& table = std::nullopt);

}  // namespace ferolin::binding::native
