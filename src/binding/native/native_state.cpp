#include "binding/native/native_state.h"

#include "binding/native/core_errors.h"
#include "binding/native/functions.h"
#include "binding/native/pass_type.h"

namespace ferolin::binding::native {

int init_native_state(PyObject* module) {
  if (init_module_state(module, "ferolin_tools._native.InternalError") < 0) return -1;
  NativeState& state = native_state(module);
  if (create_record_types(state.records) < 0) return -1;
  state.pass_type = new_pass_type(module);
  if (state.pass_type == nullptr) return -1;
  state.output_type = new_output_type(module);
  if (state.output_type == nullptr) return -1;
  state.core_error = new_core_error_class();
  return state.core_error == nullptr ? -1 : 0;
}

int traverse_native_state(PyObject* module, visitproc visit, void* arg) {
  NativeState& state = native_state(module);
  Py_VISIT(state.pass_type);
  Py_VISIT(state.output_type);
  Py_VISIT(state.core_error);
  for (PyObject* type : state.records) Py_VISIT(type);
  return traverse_module_state(module, visit, arg);
}

int clear_native_state(PyObject* module) {
  NativeState& state = native_state(module);
  Py_CLEAR(state.pass_type);
  Py_CLEAR(state.output_type);
  Py_CLEAR(state.core_error);
  for (PyObject*& type : state.records) Py_CLEAR(type);
  return clear_module_state(module);
}

void free_native_state(void* module) { clear_native_state(static_cast<PyObject*>(module)); }

}  // namespace ferolin::binding::native
