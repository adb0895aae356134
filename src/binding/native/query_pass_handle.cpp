#include "binding/native/query_pass_handle.h"

#include <memory>
#include <utility>

namespace ferolin::binding::native {
namespace {

constexpr const char* kCapsuleName = "ferolin_tools._native.QueryPass";

void destroy(PyObject* capsule) {
  delete static_cast<QueryPassResult*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

}  // namespace

PyRef wrap_pass(QueryPassResult result) {
  auto owned = std::make_unique<QueryPassResult>(std::move(result));
  owned->curves.resize(owned->table.methods.size());
  PyRef capsule = PyRef::steal(PyCapsule_New(owned.get(), kCapsuleName, destroy));
  if (capsule) static_cast<void>(owned.release());  // the capsule owns it now
  return capsule;
}

QueryPassResult* unwrap_pass(PyObject* capsule) {
  if (!PyCapsule_IsValid(capsule, kCapsuleName)) {
    PyErr_SetString(PyExc_TypeError, "expected the result of run_pass()");
    return nullptr;
  }
  return static_cast<QueryPassResult*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

}  // namespace ferolin::binding::native
