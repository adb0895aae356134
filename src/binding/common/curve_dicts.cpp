#include "binding/common/curve_dicts.h"

#include <array>

#include "binding/common/convert.h"
#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 6> kCurveKeys = {"threshold", "accepted", "total",
                                                   "coverage",  "errors",   "risk"};

std::optional<double> float_value(PyObject* dict, const char* key) {
  std::optional<PyRef> value = required_dict_item(dict, key);
  if (!value) return std::nullopt;
  return to_double(value->get());
}

std::optional<std::uint64_t> unsigned_value(PyObject* dict, const char* key) {
  std::optional<PyRef> value = required_dict_item(dict, key);
  if (!value) return std::nullopt;
  return to_unsigned(value->get());
}

std::optional<RiskCoverageRow> dict_to_row(PyObject* dict) {
  RiskCoverageRow row;
  const std::optional<double> threshold = float_value(dict, "threshold");
  if (!threshold) return std::nullopt;
  const std::optional<std::uint64_t> accepted = unsigned_value(dict, "accepted");
  if (!accepted) return std::nullopt;
  const std::optional<std::uint64_t> total = unsigned_value(dict, "total");
  if (!total) return std::nullopt;
  const std::optional<double> coverage = float_value(dict, "coverage");
  if (!coverage) return std::nullopt;
  const std::optional<std::uint64_t> errors = unsigned_value(dict, "errors");
  if (!errors) return std::nullopt;
  std::optional<PyRef> risk = required_dict_item(dict, "risk");
  if (!risk) return std::nullopt;
  if (risk->get() != Py_None) {
    row.risk = to_double(risk->get());
    if (!row.risk) return std::nullopt;
  }
  row.threshold = *threshold;
  row.accepted = *accepted;
  row.total = *total;
  row.coverage = *coverage;
  row.errors = *errors;
  return row;
}

}  // namespace

std::optional<std::vector<RiskCoverageRow>> py_list_to_curve(PyObject* list) {
  std::vector<RiskCoverageRow> curve;
  // The size is read on every step: a key's __eq__ may change the list.
  for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
    PyRef element = PyRef::borrow(PyList_GetItem(list, i));
    if (!PyDict_Check(element.get())) {
      raise_not_instance(element.get(), "dict");
      return std::nullopt;
    }
    std::optional<RiskCoverageRow> row = dict_to_row(element.get());
    if (!row) return std::nullopt;
    curve.push_back(*row);
  }
  return curve;
}

namespace {

std::array<PyRef, 6> row_values(const RiskCoverageRow& row) {
  return {
      PyRef::steal(PyFloat_FromDouble(row.threshold)),
      PyRef::steal(PyLong_FromUnsignedLongLong(row.accepted)),
      PyRef::steal(PyLong_FromUnsignedLongLong(row.total)),
      PyRef::steal(PyFloat_FromDouble(row.coverage)),
      PyRef::steal(PyLong_FromUnsignedLongLong(row.errors)),
      optional_float(row.risk),
  };
}

}  // namespace

PyRef curve_to_py_list(std::span<const RiskCoverageRow> curve) {
  return list_of_dicts(curve, kCurveKeys, row_values);
}

PyRef curve_row_to_dict(const RiskCoverageRow& row) {
  std::optional<DictKeys<6>> keys = DictKeys<6>::make(kCurveKeys);
  if (!keys) return {};
  return build_dict(*keys, row_values(row));
}

}  // namespace ferolin::binding
