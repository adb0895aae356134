// What the command line reads off a pass: counts, columns, curves, summaries
// and calibrations, each method's curve computed once.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <span>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/curve_dicts.h"
#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"
#include "binding/common/policy_dicts.h"
#include "binding/native/functions.h"
#include "binding/native/pass_access.h"
#include "binding/native/records.h"
#include "core/calibration/binomial.h"
#include "core/calibration/calibrate_policy.h"
#include "core/metrics/aurc.h"
#include "core/metrics/risk_coverage.h"

namespace ferolin::binding::native {
namespace {

PyRef packed_confidences(std::span<const std::optional<double>> confidences) {
  return packed<double>(confidences.size(), [&](std::size_t q) {
    return confidences[q].value_or(std::numeric_limits<double>::quiet_NaN());
  });
}

PyRef label_column(std::span<const std::optional<bool>> labels) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(labels.size())));
  if (!list) return {};
  for (std::size_t i = 0; i < labels.size(); ++i) {
    PyObject* item = !labels[i] ? Py_None : (*labels[i] ? Py_True : Py_False);
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), PyRef::borrow(item).release());
  }
  return list;
}


shards::PairCounts count_queries(const pipeline::QueryTable& table) {
  shards::PairCounts counts{.queries = table.size(), .rows = table.rows};
  for (std::size_t q = 0; q < table.size(); ++q) {
    const bool one = table.candidates[q] == 1;
    counts.single_candidate += one ? 1 : 0;
    if (!table.top_labels[q]) continue;
    ++counts.labelled;
    counts.labelled_single_candidate += one ? 1 : 0;
  }
  return counts;
}

// Returns the number of queries (labelled or not) that method column `m`
// gives a confidence a threshold can accept: present and not NaN.
std::uint64_t scored_queries(const QueryPassResult& pass, std::size_t m) {
  if (pass.pairs) return pass.pairs->scored[m];
  return static_cast<std::uint64_t>(
      std::ranges::count_if(pass.table.confidences[m],
                            [](const std::optional<double>& c) { return c && !std::isnan(*c); }));
}

PyObject* counts(PyObject* module, QueryPassResult& pass, BoundArguments&) {
  const shards::PairCounts counts = pass.pairs ? pass.pairs->counts : count_queries(pass.table);
  // Merged shards keep one row per query: their ties are not known.
  PyRef tied = pass.pairs ? PyRef::borrow(Py_None) : unsigned_value(pass.table.tied_tops);
  return make_record(module, kCounts,
                     {unsigned_value(counts.queries), unsigned_value(counts.rows),
                      unsigned_value(counts.labelled), unsigned_value(counts.single_candidate),
                      unsigned_value(counts.labelled_single_candidate), std::move(tied)})
      .release();
}

PyObject* summary(PyObject* module, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  const std::vector<RiskCoverageRow>& curve = curve_of(pass, *m);
  // The last row accepts every labelled query that has a confidence.
  const std::uint64_t scored = curve.empty() ? 0 : curve.back().accepted;
  return make_record(module, kSummary,
                     {unsigned_value(scored), unsigned_value(scored_queries(pass, *m)),
                      PyRef::steal(PyFloat_FromDouble(metrics::compute_aurc(curve))),
                      PyRef::steal(PyFloat_FromDouble(metrics::compute_eaurc(curve))),
                      PyRef::steal(PyFloat_FromDouble(metrics::compute_augrc(curve))),
                      unsigned_value(curve.size()),
                      unsigned_value(*m < pass.infinite.size() ? pass.infinite[*m] : 0)})
      .release();
}

PyObject* curve(PyObject*, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  return curve_to_py_list(curve_of(pass, *m)).release();
}

PyObject* calibrate(PyObject* module, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  const Argument error_rate = arguments.next();
  const Argument method = arguments.next();
  const std::optional<calibration::CalibrationRequest> request =
      calibration_request(pass, *m, error_rate, method, arguments.next());
  if (!request) return nullptr;
  const std::vector<RiskCoverageRow>& curve = curve_of(pass, *m);
  Result<std::optional<double>> threshold = calibration::choose_threshold(curve, *request);
  if (!threshold) return map_err(std::move(threshold.error()));
  Result<PolicyFile> policy = calibration::calibrate_policy(curve, *request);
  if (!policy) return map_err(std::move(policy.error()));
  // The chosen row: the last one with the chosen threshold (thresholds are distinct).
  PyRef row = PyRef::borrow(Py_None);
  for (const RiskCoverageRow& candidate : curve) {
    if (*threshold && candidate.threshold == **threshold) row = curve_row_to_dict(candidate);
  }
  return make_record(module, kCalibration,
                     {policy_to_dict(*policy), optional_float(*threshold), std::move(row)})
      .release();
}

PyObject* columns(PyObject* module, QueryPassResult& pass, BoundArguments& arguments) {
  const pipeline::QueryTable& table = pass.table;
  const Argument start = arguments.next();
  const std::optional<QueryRange> range = range_parameters(start, arguments.next(), table.size());
  if (!range) return nullptr;
  const std::size_t first = range->begin;
  PyRef confidences = PyRef::steal(PyList_New(0));
  if (!confidences) return nullptr;
  for (const auto& column : table.confidences) {
    PyRef packed_column = packed_confidences(range->of(column));
    if (!packed_column || PyList_Append(confidences.get(), packed_column.get()) < 0) {
      return nullptr;
    }
  }
  return make_record(
             module, kColumns,
             {text_list(TextSlice{table.query_ids, first, range->end}),
              text_list(TextSlice{table.top_candidate_ids, first, range->end}),
              packed<double>(range->size(),
                             [&](std::size_t q) { return table.top_scores[first + q]; }),
              label_column(range->of(table.top_labels)),
              packed<std::uint64_t>(range->size(),
                                    [&](std::size_t q) { return table.candidates[first + q]; }),
              std::move(confidences)})
      .release();
}

constexpr std::array<const char*, 0> kNoParameters = {};
constexpr std::array<const char*, 1> kIndexParameter = {"index"};
constexpr std::array<const char*, 4> kCalibrateParameters = {"index", "error_rate", "method",
                                                             "confidence_level"};
constexpr std::array<const char*, 2> kRangeParameters = {"start", "stop"};

}  // namespace

const PassMethod kCountsMethod{
    {"counts", kNoParameters, 0}, PassKinds::TableOrPairs, counts,
    "counts($self)\n--\n\nQueries, rows, labelled queries, queries with a single candidate."};
const PassMethod kSummaryMethod{
    {"summary", kIndexParameter, 1}, PassKinds::TableOrPairs, summary,
    "summary($self, index)\n--\n\nLabelled queries scored, AURC, E-AURC and curve rows of one "
    "method column."};
const PassMethod kCurveMethod{
    {"curve", kIndexParameter, 1}, PassKinds::TableOrPairs, curve,
    "curve($self, index)\n--\n\nThe risk-coverage curve of one method column."};
const PassMethod kCalibrateMethod{
    {"calibrate", kCalibrateParameters, 3}, PassKinds::TableOrPairs, calibrate,
    "calibrate($self, index, error_rate, method, confidence_level=None)\n--\n\n"
    "Calibrate one method column: the policy, its threshold (None when no row qualifies) and "
    "the chosen curve row (or None)."};
const PassMethod kColumnsMethod{
    {"columns", kRangeParameters, 0}, PassKinds::TableOnly, columns,
    "columns($self, start=0, stop=None)\n--\n\nThe per-query columns of the queries from start "
    "to stop; numbers packed in bytearrays of native float64 and uint64."};

namespace {

PyObject* wilson_upper_bound(PyObject*, BoundArguments& arguments) {
  const std::optional<std::uint64_t> accepted = to_unsigned(arguments.next().object);
  if (!accepted) return nullptr;
  const std::optional<std::uint64_t> errors = to_unsigned(arguments.next().object);
  if (!errors) return nullptr;
  const std::optional<double> level = float_parameter(arguments.next());
  if (!level) return nullptr;
  const std::optional<double> z = calibration::binomial::z_value(*level);
  if (!z) return map_err(FerolinError::unsupported_confidence_level(*level));
  // No bound without an accepted query.
  if (*accepted == 0) return PyRef::borrow(Py_None).release();
  return PyFloat_FromDouble(calibration::binomial::wilson_upper_bound(*accepted, *errors, *z));
}

PyObject* supported_confidence_level(PyObject*, BoundArguments& arguments) {
  const std::optional<double> level = float_parameter(arguments.next());
  if (!level) return nullptr;
  return PyBool_FromLong(calibration::binomial::z_value(*level).has_value());
}

constexpr std::array<const char*, 3> kWilsonParameters = {"accepted", "errors",
                                                          "confidence_level"};
constexpr std::array<const char*, 1> kLevelParameter = {"confidence_level"};

}  // namespace

const NativeFunction kWilsonUpperBound{{"wilson_upper_bound", kWilsonParameters, 3},
                                       wilson_upper_bound};
const NativeFunction kSupportedConfidenceLevel{
    {"supported_confidence_level", kLevelParameter, 1}, supported_confidence_level};

}  // namespace ferolin::binding::native
