#include "binding/decision_dicts.h"

#include <array>

#include "binding/dict_builder.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 6> kDecisionKeys = {
    "query_id", "candidate_id", "confidence", "accepted", "threshold", "method"};

}  // namespace

PyRef decisions_to_py_list(std::span<const AnnotationDecision> decisions) {
  std::optional<DictKeys<6>> keys = DictKeys<6>::make(kDecisionKeys);
  if (!keys) return {};
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return {};
  for (const AnnotationDecision& decision : decisions) {
    PyRef dict = build_dict(*keys, {
                                       text(decision.query_id),
                                       text(decision.candidate_id),
                                       PyRef::steal(PyFloat_FromDouble(decision.confidence)),
                                       PyRef::borrow(decision.accepted ? Py_True : Py_False),
                                       PyRef::steal(PyFloat_FromDouble(decision.threshold)),
                                       text(decision.method),
                                   });
    if (!dict || PyList_Append(list.get(), dict.get()) < 0) return {};
  }
  return list;
}

}  // namespace ferolin::binding
