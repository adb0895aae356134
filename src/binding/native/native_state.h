// The state of the private module: the state every module of the binding
// keeps, then the types the module defines (the pass, the output file and the records), made
// once for each module object as CPython's own _csv keeps its reader type.
#pragma once

#include <array>

#include "binding/common/module_state.h"
#include "binding/native/records.h"

namespace ferolin::binding::native {

struct NativeState {
  ModuleState common;  // first, so that module_state() reads it
  PyObject* pass_type;
  PyObject* output_type;
  PyObject* core_error;  // CoreError (core_errors.h)
  std::array<PyObject*, kRecordKindCount> records;
};

// Returns the state of the module object `module`.
[[nodiscard]] inline NativeState& native_state(PyObject* module) {
  return *static_cast<NativeState*>(PyModule_GetState(module));
}

// Creates the state of a new module. Returns 0, or -1 with an exception set.
int init_native_state(PyObject* module);

// The m_traverse, m_clear and m_free of the module.
int traverse_native_state(PyObject* module, visitproc visit, void* arg);
int clear_native_state(PyObject* module);
void free_native_state(void* module);

}  // namespace ferolin::binding::native
