// PyRef: a move-only owner of one strong reference to a Python object.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace ferolin::binding {

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (may be null, e.g. after a failed C-API call).
  [[nodiscard]] static PyRef steal(PyObject* object) { return PyRef(object); }
  // Adds a reference to a borrowed object.
  [[nodiscard]] static PyRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(other.release()) {}
  // Drops the reference held before: forgetting to is a classic leak.
  PyRef& operator=(PyRef&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  [[nodiscard]] PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Returns the reference to the caller, who now owns it.
  [[nodiscard]] PyObject* release() {
    PyObject* object = object_;
    object_ = nullptr;
    return object;
  }

  void reset(PyObject* object = nullptr) {
    PyObject* old = object_;
    object_ = object;
    Py_XDECREF(old);
  }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace ferolin::binding
