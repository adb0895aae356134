#include "binding/native/pass_access.h"

#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/method_names.h"
#include "core/metrics/risk_coverage.h"

namespace ferolin::binding::native {

QueryPassResult* bound_pass(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames, std::span<PyObject*> bound) {
  if (!bind_arguments(signature, args, nargsf, kwnames, bound)) return nullptr;
  return unwrap_pass(bound[0]);
}

std::optional<std::size_t> method_index(const QueryPassResult& pass, PyObject* object) {
  const std::optional<std::uint64_t> index = to_unsigned(object);
  if (!index) return std::nullopt;
  if (*index >= pass.table.methods.size()) {
    PyErr_SetString(PyExc_IndexError, "no such method column in this pass");
    return std::nullopt;
  }
  return static_cast<std::size_t>(*index);
}

std::optional<MethodColumn> bound_method(const Signature& signature, PyObject* const* args,
                                         Py_ssize_t nargsf, PyObject* kwnames,
                                         std::span<PyObject*> bound) {
  QueryPassResult* pass = bound_pass(signature, args, nargsf, kwnames, bound);
  if (pass == nullptr) return std::nullopt;
  const std::optional<std::size_t> m = method_index(*pass, bound[1]);
  if (!m) return std::nullopt;
  return MethodColumn{pass, *m};
}

std::optional<PyObject*> progress_parameter(PyObject* object) {
  if (object == nullptr || object == Py_None) return nullptr;
  if (!PyCallable_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "progress must be callable or None");
    return std::nullopt;
  }
  return object;
}

const std::vector<RiskCoverageRow>& curve_of(QueryPassResult& pass, std::size_t m) {
  if (!pass.curves[m]) {
    GilFreeCall call;
    pass.curves[m] = call.run(
        [&] { return metrics::compute_curve(pass.table.confidences[m], pass.table.top_labels); });
  }
  return *pass.curves[m];
}

std::optional<calibration::CalibrationRequest> calibration_request(const QueryPassResult& pass,
                                                                   std::size_t m,
                                                                   PyObject* error_rate,
                                                                   PyObject* method,
                                                                   PyObject* confidence_level) {
  const std::optional<double> rate = float_parameter(error_rate, "error_rate");
  if (!rate) return std::nullopt;
  const std::optional<std::string_view> method_name = text_parameter(method, "method");
  if (!method_name) return std::nullopt;
  const std::optional<OptionalFloat> level =
      optional_float_parameter(confidence_level, "confidence_level");
  if (!level) return std::nullopt;
  const std::optional<CalibrationMethod> parsed = parse_calibration_method(*method_name);
  if (!parsed) return std::nullopt;
  return calibration::CalibrationRequest{pass.table.methods[m], *rate, *parsed, level->value};
}

PyObject* native_error(FerolinError error, const GilFreeCall* call) {
  if (call != nullptr && call->raised() && PyErr_Occurred()) return nullptr;
  if (error.kind == ErrorKind::InvalidArgument) return raise_value_error(error.message());
  return map_err(std::move(error));
}

}  // namespace ferolin::binding::native
