// The per-module state of `ferolin`: what the execution slot creates once
// for each module object and the module functions share.
#pragma once

#include "binding/py_ref.h"

namespace ferolin::binding {

struct ModuleState {
  // A strong reference to ferolin.InternalError, the class of a broken
  // internal invariant. It is no module attribute: the module's only
  // attributes are its seven functions and __all__.
  PyObject* internal_error;
};

// Returns the state of `module`, a ferolin module object (the `self` of
// every module function).
[[nodiscard]] inline ModuleState& module_state(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

}  // namespace ferolin::binding
