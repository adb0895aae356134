#include "binding/native/query_pass_handle.h"

#include <memory>
#include <utility>

#include "binding/native/infinite_confidences.h"

namespace ferolin::binding::native {
namespace {

// A pass over a table and queries merged from shards carry different names,
// so that a function which reads per-query columns cannot be handed merged
// pairs (which have none) by mistake.
constexpr const char* kCapsuleName = "ferolin_tools._native.QueryPass";
constexpr const char* kPairsCapsuleName = "ferolin_tools._native.QueryPairs";

void destroy(PyObject* capsule) {
  delete static_cast<QueryPassResult*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
}

}  // namespace

PyRef wrap_pass(QueryPassResult result) {
  auto owned = std::make_unique<QueryPassResult>(std::move(result));
  owned->curves.resize(methods_of(*owned).size());
  set_aside_infinite(*owned);
  const char* name = owned->pairs ? kPairsCapsuleName : kCapsuleName;
  PyRef capsule = PyRef::steal(PyCapsule_New(owned.get(), name, destroy));
  if (capsule) static_cast<void>(owned.release());  // the capsule owns it now
  return capsule;
}

const std::vector<ScoringMethod>& methods_of(const QueryPassResult& result) {
  return result.pairs ? result.pairs->methods : result.table.methods;
}

QueryPassResult* unwrap_pass(PyObject* capsule, PassKinds kinds) {
  if (PyCapsule_IsValid(capsule, kCapsuleName)) {
    return static_cast<QueryPassResult*>(PyCapsule_GetPointer(capsule, kCapsuleName));
  }
  if (PyCapsule_IsValid(capsule, kPairsCapsuleName)) {
    if (kinds == PassKinds::TableOrPairs) {
      return static_cast<QueryPassResult*>(PyCapsule_GetPointer(capsule, kPairsCapsuleName));
    }
    PyErr_SetString(PyExc_TypeError,
                    "queries merged from shards keep no per-query columns; read each shard for "
                    "those");
    return nullptr;
  }
  PyErr_SetString(PyExc_TypeError, "expected the result of run_pass()");
  return nullptr;
}

}  // namespace ferolin::binding::native
