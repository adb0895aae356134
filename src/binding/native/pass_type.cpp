#include "binding/native/pass_type.h"

#include <memory>
#include <utility>

#include "binding/common/errors.h"
#include "binding/native/infinite_confidences.h"
#include "binding/native/native_state.h"
#include "binding/native/owned_type.h"

namespace ferolin::binding::native {
namespace {

// Returns the pass of `self`, or nullptr with TypeError for merged pairs
// when the method needs per-query columns.
QueryPassResult* checked_pass(PyObject* self, PassKinds kinds) {
  QueryPassResult& pass = owned_value<QueryPassResult>(self);
  if (pass.pairs && kinds == PassKinds::TableOnly) {
    PyErr_SetString(PyExc_TypeError,
                    "queries merged from shards keep no per-query columns; read each shard for "
                    "those");
    return nullptr;
  }
  return &pass;
}

// Every method of Pass starts alike: bind the call, check the pass, run
// the body with C++ exceptions kept from the interpreter.
template <const PassMethod& Method>
PyObject* call_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  PyObject* module = PyType_GetModule(Py_TYPE(self));
  return guarded(module, [&]() -> PyObject* {
    std::optional<BoundArguments> arguments =
        BoundArguments::bind(Method.signature, args, nargs, kwnames);
    if (!arguments) return nullptr;
    QueryPassResult* pass = checked_pass(self, Method.kinds);
    if (pass == nullptr) return nullptr;
    return Method.body(module, *pass, *arguments);
  });
}

template <const PassMethod& Method>
PyMethodDef method_def() {
  return {Method.signature.name, fastcall<call_method<Method>>(), kFastcallFlags, Method.doc};
}

PyMethodDef kMethods[] = {
    method_def<kCountsMethod>(),          method_def<kSummaryMethod>(),
    method_def<kCurveMethod>(),           method_def<kCalibrateMethod>(),
    method_def<kColumnsMethod>(),         method_def<kGroupsMethod>(),
    method_def<kGroupCurveMethod>(),      method_def<kCalibrateGroupsMethod>(),
    method_def<kDecideMethod>(),          method_def<kOperatingPointsMethod>(),
    method_def<kBootstrapMethod>(),       method_def<kRiskBandMethod>(),
    method_def<kProbabilityCheckMethod>(), method_def<kPackMethod>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

const std::vector<ScoringMethod>& methods_of(const QueryPassResult& result) {
  return result.pairs ? result.pairs->methods : result.table.methods;
}

PyObject* new_pass_type(PyObject* module) {
  return new_owned_type<QueryPassResult>(
      module, "ferolin_tools._native.Pass",
      "One read of a table, or the queries of shards merged: made by run_pass, "
      "run_arrow_pass, read_score_tables and merge_packed.",
      kMethods);
}

PyRef wrap_pass(PyObject* module, QueryPassResult result) {
  auto owned = std::make_unique<QueryPassResult>(std::move(result));
  owned->curves.resize(methods_of(*owned).size());
  set_aside_infinite(*owned);
  return wrap_owned(native_state(module).pass_type, std::move(owned));
}

}  // namespace ferolin::binding::native
