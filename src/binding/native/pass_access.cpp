#include "binding/native/pass_access.h"

#include <algorithm>
#include <cmath>

#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/method_names.h"
#include "core/metrics/risk_coverage.h"

namespace ferolin::binding::native {

std::optional<std::size_t> method_index(const QueryPassResult& pass, Argument index) {
  const std::optional<std::uint64_t> value = to_unsigned(index.object);
  if (!value) return std::nullopt;
  if (*value >= methods_of(pass).size()) {
    PyErr_SetString(PyExc_IndexError, "no such method column in this pass");
    return std::nullopt;
  }
  return static_cast<std::size_t>(*value);
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
    std::vector<RiskCoverageRow> curve = call.run([&] {
      if (pass.pairs) {
        return metrics::compute_curve(pass.pairs->confidences[m], pass.pairs->correct);
      }
      return metrics::compute_curve(pass.table.confidences[m], pass.table.top_labels);
    });
    // Another thread may have stored the same curve while this one computed
    // without the lock. The first stays: the other thread may still read it.
    if (!pass.curves[m]) pass.curves[m] = std::move(curve);
  }
  return *pass.curves[m];
}

LabelledColumns labelled_columns(const QueryPassResult& pass, std::size_t m) {
  LabelledColumns columns;
  if (!pass.pairs) {
    columns.confidences = pass.table.confidences[m];
    columns.labels = pass.table.top_labels;
    return columns;
  }
  const shards::QueryPairs& pairs = *pass.pairs;
  columns.made_confidences.reserve(pairs.correct.size());
  columns.made_labels.reserve(pairs.correct.size());
  for (std::size_t i = 0; i < pairs.correct.size(); ++i) {
    // NaN stands for no confidence in the pairs; the statistics treat both alike.
    const double confidence = pairs.confidences[m][i];
    columns.made_confidences.push_back(std::isnan(confidence) ? std::nullopt
                                                              : std::optional(confidence));
    columns.made_labels.push_back(pairs.correct[i] != 0);
  }
  columns.confidences = columns.made_confidences;
  columns.labels = columns.made_labels;
  return columns;
}

std::uint64_t query_count(const QueryPassResult& pass) {
  return pass.pairs ? pass.pairs->counts.queries : pass.table.size();
}

std::optional<calibration::CalibrationRequest> calibration_request(const QueryPassResult& pass,
                                                                   std::size_t m,
                                                                   Argument error_rate,
                                                                   Argument method,
                                                                   Argument confidence_level) {
  const std::optional<double> rate = float_parameter(error_rate);
  if (!rate) return std::nullopt;
  const std::optional<std::string_view> method_name = text_parameter(method);
  if (!method_name) return std::nullopt;
  const std::optional<OptionalFloat> level = optional_float_parameter(confidence_level);
  if (!level) return std::nullopt;
  const std::optional<CalibrationMethod> parsed = parse_calibration_method(*method_name);
  if (!parsed) return std::nullopt;
  return calibration::CalibrationRequest{methods_of(pass)[m], *rate, *parsed, level->value};
}

PyObject* native_error(FerolinError error, const GilFreeCall* call) {
  if (call != nullptr && call->raised() && PyErr_Occurred()) return nullptr;
  if (error.kind == ErrorKind::InvalidArgument) return raise_value_error(error.message());
  return map_err(std::move(error));
}

std::optional<QueryRange> range_parameters(Argument start, Argument stop, std::size_t size) {
  std::optional<std::uint64_t> first = 0;
  std::optional<std::uint64_t> last = size;
  if (start.object != nullptr && !(first = unsigned_parameter(start))) return std::nullopt;
  if (!stop.absent() && !(last = unsigned_parameter(stop))) return std::nullopt;
  const std::size_t end = std::min<std::uint64_t>(*last, size);
  return QueryRange{std::min<std::uint64_t>(*first, end), end};
}

}  // namespace ferolin::binding::native
