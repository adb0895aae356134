// One table-driven argument binder for all module functions, with the
// interpreter's own wording for wrong calls.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
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

// One argument of a bound call with the name of its parameter, which
// conversions put in their messages; `object` is nullptr when omitted.
struct Argument {
  PyObject* object;
  const char* name;

  // Whether the argument was omitted or given as None.
  [[nodiscard]] bool absent() const { return object == nullptr || object == Py_None; }
};

// A call bound to a signature, its arguments read in the order of the
// signature's parameters, so that each parameter is named once: in its
// signature.
class BoundArguments {
 public:
  // The most parameters a signature may have.
  static constexpr std::size_t kMaxParameters = 16;

  // Binds a METH_FASTCALL | METH_KEYWORDS call as bind_arguments does;
  // nullopt with TypeError set.
  [[nodiscard]] static std::optional<BoundArguments> bind(const Signature& signature,
                                                          PyObject* const* args, Py_ssize_t nargs,
                                                          PyObject* kwnames);

  // Returns the argument of the next parameter.
  [[nodiscard]] Argument next() {
    const std::size_t i = next_++;
    return {bound_[i], signature_->parameters[i]};
  }

 private:
  const Signature* signature_ = nullptr;
  std::array<PyObject*, kMaxParameters> bound_{};
  std::size_t next_ = 0;
};

}  // namespace ferolin::binding
