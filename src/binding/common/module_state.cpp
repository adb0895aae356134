#include "binding/common/module_state.h"

#include "binding/common/errors.h"

namespace ferolin::binding {

int init_module_state(PyObject* module, const char* error_name) {
  module_state(module).internal_error = new_internal_error_class(error_name);
  return module_state(module).internal_error == nullptr ? -1 : 0;
}

int traverse_module_state(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(module_state(module).internal_error);
  return 0;
}

int clear_module_state(PyObject* module) {
  Py_CLEAR(module_state(module).internal_error);
  return 0;
}

void free_module_state(void* module) { clear_module_state(static_cast<PyObject*>(module)); }

}  // namespace ferolin::binding
