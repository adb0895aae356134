// Heap types whose objects each own one C++ value (a pass, an output file):
// made by the module's functions, never from Python, and freed with their
// value when the last reference goes.
#pragma once

#include <memory>

#include "binding/common/py_ref.h"

namespace ferolin::binding::native {

template <typename T>
struct OwnedObject {
  PyObject_HEAD
  T* value;
};

// Returns the value that `self`, an object of an owned type of T, owns.
template <typename T>
[[nodiscard]] T& owned_value(PyObject* self) {
  return *reinterpret_cast<OwnedObject<T>*>(self)->value;
}

template <typename T>
void dealloc_owned(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<OwnedObject<T>*>(self)->value;
  reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);  // objects of a heap type hold their type
}

// Returns a new heap type of `module` named `name` (a literal: the type keeps
// it) with `methods` (a static table), or nullptr with an exception set.
PyObject* new_owned_type(PyObject* module, const char* name, const char* doc,
                         PyMethodDef* methods, std::size_t basicsize, destructor dealloc);

template <typename T>
PyObject* new_owned_type(PyObject* module, const char* name, const char* doc,
                         PyMethodDef* methods) {
  return new_owned_type(module, name, doc, methods, sizeof(OwnedObject<T>), dealloc_owned<T>);
}

// Returns a new object of `type` (an owned type of T) that owns `value`, or
// an empty PyRef with an exception set (`value` then freed).
template <typename T>
[[nodiscard]] PyRef wrap_owned(PyObject* type, std::unique_ptr<T> value) {
  auto* heap_type = reinterpret_cast<PyTypeObject*>(type);
  PyRef object = PyRef::steal(
      reinterpret_cast<allocfunc>(PyType_GetSlot(heap_type, Py_tp_alloc))(heap_type, 0));
  if (!object) return {};
  reinterpret_cast<OwnedObject<T>*>(object.get())->value = value.release();
  return object;
}

}  // namespace ferolin::binding::native
