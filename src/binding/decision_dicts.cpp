#include "binding/decision_dicts.h"

#include <array>

#include "binding/common/dict_builder.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 6> kDecisionKeys = {"query_id", "candidate_id", "confidence",
                                                      "accepted", "threshold",    "method"};

}  // namespace

PyRef decisions_to_py_list(std::span<const AnnotationDecision> decisions) {
  return list_of_dicts(decisions, kDecisionKeys, [](const AnnotationDecision& decision) {
    return std::array<PyRef, 6>{
        text(decision.query_id),
        text(decision.candidate_id),
        PyRef::steal(PyFloat_FromDouble(decision.confidence)),
        PyRef::borrow(decision.accepted ? Py_True : Py_False),
        PyRef::steal(PyFloat_FromDouble(decision.threshold)),
        text(decision.method),
    };
  });
}

}  // namespace ferolin::binding
