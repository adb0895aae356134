#include "binding/native/own_policy.h"

#include <string>

#include "binding/common/convert.h"
#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"

namespace ferolin::binding::native {
namespace {

// Whether `dict` names the confidence-column method; nullopt with an
// exception set.
std::optional<bool> names_column_method(PyObject* dict) {
  const std::optional<PyRef> method = dict_item(dict, "scoring_method");
  if (!method) return std::nullopt;
  if (!*method || !PyUnicode_Check(method->get())) return false;
  const std::optional<std::string_view> name = to_text(method->get());
  if (!name) return std::nullopt;
  return *name == kConfidenceColumnMethod;
}

std::optional<ConfidenceColumn> column_of(PyObject* dict) {
  const std::optional<PyRef> column = required_dict_item(dict, "confidence_col");
  if (!column) return std::nullopt;
  const std::optional<std::string_view> name = text_parameter(column->get(), "confidence_col");
  if (!name) return std::nullopt;
  ConfidenceColumn own{std::string(*name), false};
  const std::optional<PyRef> lower = dict_item(dict, "lower_is_better");
  if (!lower) return std::nullopt;
  if (*lower) {
    if (!PyBool_Check(lower->get())) {
      PyErr_SetString(PyExc_TypeError, "lower_is_better must be True or False");
      return std::nullopt;
    }
    own.lower_is_better = lower->get() == Py_True;
  }
  return own;
}

}  // namespace

std::optional<EightMethodDict> eight_method_dict(PyObject* dict) {
  const std::optional<bool> own = names_column_method(dict);
  if (!own) return std::nullopt;
  if (!*own) return EightMethodDict{PyRef::borrow(dict), std::nullopt};
  std::optional<ConfidenceColumn> column = column_of(dict);
  if (!column) return std::nullopt;
  PyRef copy = PyRef::steal(PyDict_Copy(dict));
  if (!copy) return std::nullopt;
  // Any of the eight does: the policy records the column, not this method.
  PyRef stand_in = text(policy_name(ScoringMethod::CandidateCount));
  if (!stand_in || PyDict_SetItemString(copy.get(), "scoring_method", stand_in.get()) < 0) {
    return std::nullopt;
  }
  return EightMethodDict{std::move(copy), std::move(column)};
}

bool set_confidence_column_keys(PyObject* dict, const PolicyFile& policy) {
  if (!policy.confidence_column) return true;
  PyRef method = text(kConfidenceColumnMethod);
  PyRef column = text(policy.confidence_column->column);
  if (!method || !column) return false;
  return PyDict_SetItemString(dict, "scoring_method", method.get()) == 0 &&
         PyDict_SetItemString(dict, "confidence_col", column.get()) == 0 &&
         PyDict_SetItemString(dict, "lower_is_better",
                              policy.confidence_column->lower_is_better ? Py_True : Py_False) == 0;
}

}  // namespace ferolin::binding::native
