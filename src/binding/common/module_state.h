// The per-module state that every module built on these helpers keeps (the
// public `ferolin` and the private ferolin_tools._native): what its
// execution slot creates once for each module object and its functions share.
#pragma once

#include "binding/common/py_ref.h"

namespace ferolin::binding {

struct ModuleState {
  // A strong reference to the module's InternalError, the class of a broken
  // internal invariant. It is no module attribute.
  PyObject* internal_error;
};

// Returns the state of `module`, a module object of one of these modules
// (the `self` of every module function).
[[nodiscard]] inline ModuleState& module_state(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// Creates the state of a new module: its InternalError class, named
// `error_name` (e.g. "ferolin.InternalError"). Returns 0, or -1 with an
// exception set.
int init_module_state(PyObject* module, const char* error_name);

// The m_traverse, m_clear and m_free of a module definition with this state.
int traverse_module_state(PyObject* module, visitproc visit, void* arg);
int clear_module_state(PyObject* module);
void free_module_state(void* module);

}  // namespace ferolin::binding
