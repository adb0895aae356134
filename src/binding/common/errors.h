// Turning failures into Python exceptions, in one place.
#pragma once

#include <exception>
#include <new>
#include <string_view>

#include "binding/common/py_ref.h"
#include "core/error.h"

namespace ferolin::binding {

// Sets an exception whose only argument is the error's display text and
// consumes the error: ValueError for MissingConfidenceLevel, RuntimeError
// for every other kind. Returns nullptr for convenient early returns.
PyObject* map_err(FerolinError error);

// Sets RuntimeError with `message`. Returns nullptr.
PyObject* raise_runtime_error(std::string_view message);
// Sets ValueError with `message`. Returns nullptr.
PyObject* raise_value_error(std::string_view message);
// Sets KeyError "missing '<key>'". Returns nullptr.
PyObject* raise_missing_key(const char* key);
// Sets TypeError "'<type>' object is not an instance of '<expected>'", or
// "'None' is not an instance of '<expected>'" for None. Returns nullptr.
PyObject* raise_not_instance(PyObject* object, const char* expected);

// Adds the note "while processing '<parameter>'" to the pending exception
// through its add_note method. A failure of add_note (or its absence, before
// Python 3.11) is ignored and the exception is raised without the note.
void add_processing_note(const char* parameter);

// Returns a new class named `name` (e.g. "ferolin.InternalError"), derived directly from
// BaseException so that `except Exception` does not swallow a broken
// internal invariant; nullptr with an exception set on failure.
[[nodiscard]] PyObject* new_internal_error_class(const char* name);

// Sets the exception for a C++ exception that escaped the core: MemoryError
// for std::bad_alloc, otherwise the module's InternalError.
void raise_from_cpp_exception(PyObject* module, std::exception_ptr exception);

// Runs `body`, which returns a new reference or nullptr with an exception
// set; a C++ exception never crosses into the interpreter. `module` is the
// module function's `self`.
template <typename Body>
PyObject* guarded(PyObject* module, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    raise_from_cpp_exception(module, std::current_exception());
    return nullptr;
  }
}

}  // namespace ferolin::binding
