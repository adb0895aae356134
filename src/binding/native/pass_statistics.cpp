// Statistics on a method column of a pass beyond the curve's areas: the
// operating points (risk at chosen coverages, coverage at a target risk),
// percentile-bootstrap intervals and the bootstrap band of the curve, and
// the Wilson interval of an observed risk. The bootstrap runs without the
// lock and checks in with Python as a read does (progress, Ctrl-C).
#include <array>
#include <limits>
#include <utility>
#include <vector>

#include "binding/common/convert.h"
#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"
#include "binding/native/functions.h"
#include "binding/native/pass_access.h"
#include "core/metrics/operating_points.h"
#include "core/stats/bootstrap.h"
#include "core/stats/wilson_interval.h"

namespace ferolin::binding::native {
namespace {

// Draws between check-ins with Python: a few milliseconds of work.
constexpr std::uint64_t kDrawsPerCheckIn = std::uint64_t{1} << 21;

std::optional<std::vector<double>> float_list(PyObject* object, const char* parameter) {
  if (!list_parameter(object, parameter)) return std::nullopt;
  std::vector<double> values;
  for (Py_ssize_t i = 0; i < PyList_Size(object); ++i) {
    const std::optional<double> value = to_double(PyList_GetItem(object, i));
    if (!value) {
      add_processing_note(parameter);
      return std::nullopt;
    }
    values.push_back(*value);
  }
  return values;
}

PyRef interval_tuple(const stats::Interval& interval) {
  return PyRef::steal(Py_BuildValue("(dd)", interval.low, interval.high));
}

PyRef metric_dict(const stats::MetricInterval& metric) {
  std::optional<DictKeys<3>> keys = DictKeys<3>::make({"estimate", "interval", "nan_replicates"});
  if (!keys) return {};
  return build_dict(
      *keys, {PyRef::steal(PyFloat_FromDouble(metric.estimate)), interval_tuple(metric.interval),
              unsigned_value(metric.nan_replicates)});
}

// The bootstrap's request from the parameters replicates, seed, level and
// progress (bound[first] onwards); nullopt with an exception set.
struct BootstrapArguments {
  stats::BootstrapRequest request;
  PyObject* progress = nullptr;
};

std::optional<BootstrapArguments> bootstrap_arguments(std::span<PyObject* const> bound) {
  BootstrapArguments arguments;
  const std::optional<std::uint64_t> replicates = unsigned_parameter(bound[0], "replicates");
  if (!replicates) return std::nullopt;
  const std::optional<std::uint64_t> seed = unsigned_parameter(bound[1], "seed");
  if (!seed) return std::nullopt;
  arguments.request.replicates = *replicates;
  arguments.request.seed = *seed;
  if (bound[2] != nullptr) {
    const std::optional<double> level = float_parameter(bound[2], "level");
    if (!level) return std::nullopt;
    arguments.request.level = *level;
  }
  const std::optional<PyObject*> progress = progress_parameter(bound[3]);
  if (!progress) return std::nullopt;
  arguments.progress = *progress;
  return arguments;
}

// Runs `work(request)` (a bootstrap of the pass) without the lock, checking
// in with Python every few milliseconds; returns its value, or nullopt with
// the exception set.
template <typename Work>
auto without_lock(const QueryPassResult& pass, BootstrapArguments& arguments, Work&& work)
    -> std::optional<
        typename std::invoke_result_t<Work&, const stats::BootstrapRequest&>::value_type> {
  GilFreeCall call(arguments.progress);
  const std::uint64_t n = std::max<std::uint64_t>(query_count(pass), 1);
  arguments.request.check = call.step_check(arguments.request.replicates,
                                            std::max<std::uint64_t>(kDrawsPerCheckIn / n, 1));
  auto result = call.run([&] { return work(arguments.request); });
  if (!result) {
    native_error(std::move(result.error()), &call);
    return std::nullopt;
  }
  return std::move(*result);
}

}  // namespace

PyObject* pass_operating_points(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                                PyObject* kwnames) {
  static constexpr std::array<const char*, 4> kParameters = {"query_pass", "index", "coverages",
                                                             "target_risk"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 4> bound{};
    const std::optional<MethodColumn> column =
        bound_method({"pass_operating_points", kParameters, 4}, args, nargsf, kwnames, bound,
                     PassKinds::TableOrPairs);
    if (!column) return nullptr;
    const std::optional<std::vector<double>> coverages = float_list(bound[2], "coverages");
    if (!coverages) return nullptr;
    const std::optional<double> target = float_parameter(bound[3], "target_risk");
    if (!target) return nullptr;
    const std::vector<RiskCoverageRow>& curve = curve_of(*column->pass, column->m);
    PyRef risks = PyRef::steal(PyList_New(0));
    if (!risks) return nullptr;
    for (const double coverage : *coverages) {
      PyRef risk = optional_float(metrics::risk_at_coverage(curve, coverage));
      if (!risk || PyList_Append(risks.get(), risk.get()) < 0) return nullptr;
    }
    std::optional<DictKeys<2>> keys = DictKeys<2>::make({"risk_at_coverage", "coverage_at_risk"});
    if (!keys) return nullptr;
    return build_dict(*keys,
                      {std::move(risks), optional_float(metrics::coverage_at_risk(curve, *target))})
        .release();
  });
}

PyObject* pass_bootstrap(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) {
  static constexpr std::array<const char*, 7> kParameters = {
      "query_pass", "index", "threshold", "replicates", "seed", "level", "progress"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 7> bound{};
    const std::optional<MethodColumn> column = bound_method(
        {"pass_bootstrap", kParameters, 5}, args, nargsf, kwnames, bound, PassKinds::TableOrPairs);
    if (!column) return nullptr;
    const std::optional<double> threshold = float_parameter(bound[2], "threshold");
    if (!threshold) return nullptr;
    std::optional<BootstrapArguments> arguments = bootstrap_arguments(std::span(bound).subspan(3));
    if (!arguments) return nullptr;
    arguments->request.threshold = *threshold;
    const LabelledColumns columns = labelled_columns(*column->pass, column->m);
    const std::optional<stats::BootstrapIntervals> result =
        without_lock(*column->pass, *arguments, [&](const stats::BootstrapRequest& request) {
          return stats::bootstrap_intervals(columns.confidences, columns.labels, request);
        });
    if (!result) return nullptr;
    std::optional<DictKeys<12>> keys =
        DictKeys<12>::make({"aurc", "eaurc", "augrc", "coverage", "risk", "risk_wilson", "labelled",
                            "accepted", "errors", "replicates", "seed", "level"});
    if (!keys) return nullptr;
    return build_dict(*keys, {metric_dict(result->aurc), metric_dict(result->eaurc),
                              metric_dict(result->augrc), metric_dict(result->coverage),
                              metric_dict(result->risk), interval_tuple(result->risk_wilson),
                              unsigned_value(result->labelled), unsigned_value(result->accepted),
                              unsigned_value(result->errors), unsigned_value(result->replicates),
                              unsigned_value(result->seed),
                              PyRef::steal(PyFloat_FromDouble(result->level))})
        .release();
  });
}

PyObject* pass_risk_band(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) {
  static constexpr std::array<const char*, 7> kParameters = {
      "query_pass", "index", "coverages", "replicates", "seed", "level", "progress"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 7> bound{};
    const std::optional<MethodColumn> column = bound_method(
        {"pass_risk_band", kParameters, 5}, args, nargsf, kwnames, bound, PassKinds::TableOrPairs);
    if (!column) return nullptr;
    const std::optional<std::vector<double>> coverages = float_list(bound[2], "coverages");
    if (!coverages) return nullptr;
    std::optional<BootstrapArguments> arguments = bootstrap_arguments(std::span(bound).subspan(3));
    if (!arguments) return nullptr;
    const LabelledColumns columns = labelled_columns(*column->pass, column->m);
    const std::optional<std::vector<stats::Interval>> band =
        without_lock(*column->pass, *arguments, [&](const stats::BootstrapRequest& request) {
          return stats::bootstrap_risk_band(columns.confidences, columns.labels, *coverages,
                                            request);
        });
    if (!band) return nullptr;
    PyRef list = PyRef::steal(PyList_New(0));
    if (!list) return nullptr;
    for (const stats::Interval& interval : *band) {
      PyRef item = interval_tuple(interval);
      if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* wilson_interval(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) {
  static constexpr std::array<const char*, 3> kParameters = {"accepted", "errors", "level"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 3> bound{};
    if (!bind_arguments({"wilson_interval", kParameters, 3}, args, nargsf, kwnames, bound)) {
      return nullptr;
    }
    const std::optional<std::uint64_t> accepted = unsigned_parameter(bound[0], "accepted");
    if (!accepted) return nullptr;
    const std::optional<std::uint64_t> errors = unsigned_parameter(bound[1], "errors");
    if (!errors) return nullptr;
    const std::optional<double> level = float_parameter(bound[2], "level");
    if (!level) return nullptr;
    if (*errors > *accepted) return raise_value_error("errors exceed the accepted queries");
    const Result<stats::Interval> interval = stats::wilson_interval(*accepted, *errors, *level);
    if (!interval) return native_error(interval.error());
    return interval_tuple(*interval).release();
  });
}

}  // namespace ferolin::binding::native
