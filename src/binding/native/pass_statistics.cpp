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
#include "binding/native/records.h"
#include "core/metrics/operating_points.h"
#include "core/stats/bootstrap.h"
#include "core/stats/wilson_interval.h"

namespace ferolin::binding::native {
namespace {

// Draws between check-ins with Python: a few milliseconds of work.
constexpr std::uint64_t kDrawsPerCheckIn = std::uint64_t{1} << 21;

std::optional<std::vector<double>> float_list(Argument argument) {
  if (!list_parameter(argument)) return std::nullopt;
  std::vector<double> values;
  for (Py_ssize_t i = 0; i < PyList_Size(argument.object); ++i) {
    const std::optional<double> value = to_double(PyList_GetItem(argument.object, i));
    if (!value) {
      add_processing_note(argument.name);
      return std::nullopt;
    }
    values.push_back(*value);
  }
  return values;
}

PyRef interval_tuple(const stats::Interval& interval) {
  return PyRef::steal(Py_BuildValue("(dd)", interval.low, interval.high));
}

PyRef metric_record(PyObject* module, const stats::MetricInterval& metric) {
  return make_record(module, kMetricInterval,
                     {PyRef::steal(PyFloat_FromDouble(metric.estimate)),
                      interval_tuple(metric.interval), unsigned_value(metric.nan_replicates)});
}

// The bootstrap's request from the next parameters: replicates, seed, level
// and progress; nullopt with an exception set.
struct BootstrapArguments {
  stats::BootstrapRequest request;
  PyObject* progress = nullptr;
};

std::optional<BootstrapArguments> bootstrap_arguments(BoundArguments& bound) {
  BootstrapArguments arguments;
  const std::optional<std::uint64_t> replicates = unsigned_parameter(bound.next());
  if (!replicates) return std::nullopt;
  const std::optional<std::uint64_t> seed = unsigned_parameter(bound.next());
  if (!seed) return std::nullopt;
  arguments.request.replicates = *replicates;
  arguments.request.seed = *seed;
  if (const Argument level_argument = bound.next(); level_argument.object != nullptr) {
    const std::optional<double> level = float_parameter(level_argument);
    if (!level) return std::nullopt;
    arguments.request.level = *level;
  }
  const std::optional<PyObject*> progress = progress_parameter(bound.next());
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

PyObject* operating_points(PyObject* module, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  const std::optional<std::vector<double>> coverages = float_list(arguments.next());
  if (!coverages) return nullptr;
  const std::optional<double> target = float_parameter(arguments.next());
  if (!target) return nullptr;
  const std::vector<RiskCoverageRow>& curve = curve_of(pass, *m);
  PyRef risks = PyRef::steal(PyList_New(0));
  if (!risks) return nullptr;
  for (const double coverage : *coverages) {
    PyRef risk = optional_float(metrics::risk_at_coverage(curve, coverage));
    if (!risk || PyList_Append(risks.get(), risk.get()) < 0) return nullptr;
  }
  return make_record(module, kOperatingPoints,
                     {std::move(risks), optional_float(metrics::coverage_at_risk(curve, *target))})
      .release();
}

PyObject* bootstrap(PyObject* module, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  const std::optional<double> threshold = float_parameter(arguments.next());
  if (!threshold) return nullptr;
  std::optional<BootstrapArguments> request = bootstrap_arguments(arguments);
  if (!request) return nullptr;
  request->request.threshold = *threshold;
  const LabelledColumns columns = labelled_columns(pass, *m);
  const std::optional<stats::BootstrapIntervals> result =
      without_lock(pass, *request, [&](const stats::BootstrapRequest& drawn) {
        return stats::bootstrap_intervals(columns.confidences, columns.labels, drawn);
      });
  if (!result) return nullptr;
  return make_record(module, kBootstrap,
                     {metric_record(module, result->aurc), metric_record(module, result->eaurc),
                      metric_record(module, result->augrc),
                      metric_record(module, result->coverage), metric_record(module, result->risk),
                      interval_tuple(result->risk_wilson), unsigned_value(result->labelled),
                      unsigned_value(result->accepted), unsigned_value(result->errors),
                      unsigned_value(result->replicates), unsigned_value(result->seed),
                      PyRef::steal(PyFloat_FromDouble(result->level))})
      .release();
}

PyObject* risk_band(PyObject*, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  const std::optional<std::vector<double>> coverages = float_list(arguments.next());
  if (!coverages) return nullptr;
  std::optional<BootstrapArguments> request = bootstrap_arguments(arguments);
  if (!request) return nullptr;
  const LabelledColumns columns = labelled_columns(pass, *m);
  const std::optional<std::vector<stats::Interval>> band =
      without_lock(pass, *request, [&](const stats::BootstrapRequest& drawn) {
        return stats::bootstrap_risk_band(columns.confidences, columns.labels, *coverages, drawn);
      });
  if (!band) return nullptr;
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const stats::Interval& interval : *band) {
    PyRef item = interval_tuple(interval);
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

constexpr std::array<const char*, 3> kOperatingPointsParameters = {"index", "coverages",
                                                                   "target_risk"};
constexpr std::array<const char*, 6> kBootstrapParameters = {"index", "threshold", "replicates",
                                                             "seed",  "level",     "progress"};
constexpr std::array<const char*, 6> kRiskBandParameters = {"index", "coverages", "replicates",
                                                            "seed",  "level",     "progress"};

}  // namespace

const PassMethod kOperatingPointsMethod{
    {"operating_points", kOperatingPointsParameters, 3}, PassKinds::TableOrPairs,
    operating_points,
    "operating_points($self, index, coverages, target_risk)\n--\n\nThe risk at each coverage "
    "(None where no row qualifies) and the largest coverage whose risk is at most the target "
    "(or None)."};
const PassMethod kBootstrapMethod{
    {"bootstrap", kBootstrapParameters, 4}, PassKinds::TableOrPairs, bootstrap,
    "bootstrap($self, index, threshold, replicates, seed, level=0.95, progress=None)\n--\n\n"
    "Percentile-bootstrap intervals of AURC, E-AURC, AUGRC and the coverage and risk at the "
    "threshold, and the Wilson interval of that risk."};
const PassMethod kRiskBandMethod{
    {"risk_band", kRiskBandParameters, 4}, PassKinds::TableOrPairs, risk_band,
    "risk_band($self, index, coverages, replicates, seed, level=0.95, progress=None)\n--\n\n"
    "The pointwise bootstrap interval of the risk at each coverage."};

namespace {

PyObject* wilson_interval(PyObject*, BoundArguments& arguments) {
  const std::optional<std::uint64_t> accepted = unsigned_parameter(arguments.next());
  if (!accepted) return nullptr;
  const std::optional<std::uint64_t> errors = unsigned_parameter(arguments.next());
  if (!errors) return nullptr;
  const std::optional<double> level = float_parameter(arguments.next());
  if (!level) return nullptr;
  if (*errors > *accepted) return raise_value_error("errors exceed the accepted queries");
  const Result<stats::Interval> interval = stats::wilson_interval(*accepted, *errors, *level);
  if (!interval) return native_error(interval.error());
  return interval_tuple(*interval).release();
}

constexpr std::array<const char*, 3> kWilsonParameters = {"accepted", "errors", "level"};

}  // namespace

const NativeFunction kWilsonInterval{{"wilson_interval", kWilsonParameters, 3}, wilson_interval};

}  // namespace ferolin::binding::native
