#include "binding/native/pass_type.h"

#include <memory>
#include <utility>

#include "binding/common/errors.h"
#include "binding/native/infinite_confidences.h"
#include "binding/native/native_state.h"

namespace ferolin::binding::native {
namespace {

struct PassObject {
  PyObject_HEAD
  QueryPassResult* result;
};

QueryPassResult& result_of(PyObject* self) { return *reinterpret_cast<PassObject*>(self)->result; }

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<PassObject*>(self)->result;
  reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);  // instances of a heap type hold their type
}

// Returns the pass of `self`, or nullptr with TypeError for merged pairs
// when the method needs per-query columns.
QueryPassResult* checked_pass(PyObject* self, PassKinds kinds) {
  QueryPassResult& pass = result_of(self);
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

#ifndef Py_TPFLAGS_DISALLOW_INSTANTIATION
// Before Python 3.10 a type without this flag inherits object's __new__.
PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "cannot create 'ferolin_tools._native.Pass' instances");
  return nullptr;
}
#define Py_TPFLAGS_DISALLOW_INSTANTIATION 0
#define FEROLIN_REFUSE_NEW {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
#else
#define FEROLIN_REFUSE_NEW
#endif

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>(
                    "One read of a table, or the queries of shards merged: made by run_pass, "
                    "run_arrow_pass, read_score_tables and merge_packed.")},
    FEROLIN_REFUSE_NEW{0, nullptr},
};

PyType_Spec kSpec = {
    "ferolin_tools._native.Pass",
    sizeof(PassObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSlots,
};

}  // namespace

const std::vector<ScoringMethod>& methods_of(const QueryPassResult& result) {
  return result.pairs ? result.pairs->methods : result.table.methods;
}

PyObject* new_pass_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &kSpec, nullptr);
}

PyRef wrap_pass(PyObject* module, QueryPassResult result) {
  auto owned = std::make_unique<QueryPassResult>(std::move(result));
  owned->curves.resize(methods_of(*owned).size());
  set_aside_infinite(*owned);
  auto* type = reinterpret_cast<PyTypeObject*>(native_state(module).pass_type);
  PyRef object =
      PyRef::steal(reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc))(type, 0));
  if (!object) return {};
  reinterpret_cast<PassObject*>(object.get())->result = owned.release();  // the object owns it now
  return object;
}

}  // namespace ferolin::binding::native
