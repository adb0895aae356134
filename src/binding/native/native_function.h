// A function of the private module: its parameters (named once, in the
// signature) and its body, which gets the arguments bound. Every function
// starts alike, binding the call with C++ exceptions kept from the
// interpreter; function_def makes that start and the PyMethodDef.
#pragma once

#include "binding/common/args.h"
#include "binding/common/errors.h"

namespace ferolin::binding::native {

struct NativeFunction {
  Signature signature;
  PyObject* (*body)(PyObject* module, BoundArguments& arguments);
};

template <const NativeFunction& Function>
PyObject* call_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
    std::optional<BoundArguments> arguments =
        BoundArguments::bind(Function.signature, args, nargs, kwnames);
    if (!arguments) return nullptr;
    return Function.body(module, *arguments);
  });
}

// Returns the module's entry for `Function`, documented by `doc` (which opens
// with the text signature).
template <const NativeFunction& Function>
PyMethodDef function_def(const char* doc) {
  return {Function.signature.name, fastcall<call_function<Function>>(), kFastcallFlags, doc};
}

}  // namespace ferolin::binding::native
