// One table-driven argument binder for all module functions, with the
// interpreter's own wording for wrong calls.
#pragma once

#include <cstddef>
#include <span>

#include "binding/common/py_ref.h"

namespace ferolin::binding {

// A module function's parameters: every one may be given by position or by
// keyword; the first `required` have no default.
struct Signature {
  const char* name;
  std::span<const char* const> parameters;
  std::size_t required;
};

// The calling convention of every module function.
constexpr int kFastcallFlags = METH_FASTCALL | METH_KEYWORDS;

// Returns `Function` (a module function in that convention) as the
// PyCFunction a PyMethodDef holds; the interpreter calls it by its flags.
template <auto Function>
PyCFunction fastcall() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

// Binds a METH_FASTCALL | METH_KEYWORDS call to the parameters of
// `signature`. On success fills `bound` (one slot per parameter, borrowed
// references, nullptr for an omitted parameter with a default) and returns
// true; otherwise sets TypeError and returns false. `nargs` is the plain
// count of positional arguments that METH_FASTCALL passes (no vectorcall
// flag bits).
[[nodiscard]] bool bind_arguments(const Signature& signature, PyObject* const* args,
                                  Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> bound);

}  // namespace ferolin::binding
