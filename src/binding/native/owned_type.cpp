#include "binding/native/owned_type.h"

#include <vector>

namespace ferolin::binding::native {
namespace {

#ifndef Py_TPFLAGS_DISALLOW_INSTANTIATION
// Before Python 3.10 a type without a __new__ of its own inherits object's.
PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", type->tp_name);
  return nullptr;
}
#endif

}  // namespace

PyObject* new_owned_type(PyObject* module, const char* name, const char* doc,
                         PyMethodDef* methods, std::size_t basicsize, destructor dealloc) {
  // The type copies the slots and the doc; it keeps the name and the methods.
  std::vector<PyType_Slot> slots = {
      {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
      {Py_tp_methods, methods},
      {Py_tp_doc, const_cast<char*>(doc)},
  };
  unsigned int flags = Py_TPFLAGS_DEFAULT;
#ifdef Py_TPFLAGS_DISALLOW_INSTANTIATION
  flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
#else
  slots.push_back({Py_tp_new, reinterpret_cast<void*>(refuse_new)});
#endif
  slots.push_back({0, nullptr});
  PyType_Spec spec = {name, static_cast<int>(basicsize), 0, flags, slots.data()};
  return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

}  // namespace ferolin::binding::native
