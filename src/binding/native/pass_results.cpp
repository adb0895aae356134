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

constexpr std::array<const char*, 1> kPassParameter = {"query_pass"};
constexpr std::array<const char*, 2> kMethodParameters = {"query_pass", "index"};

}  // namespace

PyObject* pass_counts(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 1> bound{};
    QueryPassResult* pass = bound_pass({"pass_counts", kPassParameter, 1}, args, nargsf, kwnames,
                                       bound, PassKinds::TableOrPairs);
    if (pass == nullptr) return nullptr;
    const shards::PairCounts counts =
        pass->pairs ? pass->pairs->counts : count_queries(pass->table);
    std::optional<DictKeys<6>> keys =
        DictKeys<6>::make({"queries", "rows", "labelled", "single_candidate",
                           "labelled_single_candidate", "tied_tops"});
    if (!keys) return nullptr;
    // Merged shards keep one row per query: their ties are not known.
    PyRef tied = pass->pairs ? PyRef::borrow(Py_None) : unsigned_value(pass->table.tied_tops);
    return build_dict(*keys,
                      {unsigned_value(counts.queries), unsigned_value(counts.rows),
                       unsigned_value(counts.labelled), unsigned_value(counts.single_candidate),
                       unsigned_value(counts.labelled_single_candidate), std::move(tied)})
        .release();
  });
}

PyObject* pass_summary(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 2> bound{};
    const std::optional<MethodColumn> column =
        bound_method({"pass_summary", kMethodParameters, 2}, args, nargsf, kwnames, bound,
                     PassKinds::TableOrPairs);
    if (!column) return nullptr;
    const std::vector<RiskCoverageRow>& curve = curve_of(*column->pass, column->m);
    // The last row accepts every labelled query that has a confidence.
    const std::uint64_t scored = curve.empty() ? 0 : curve.back().accepted;
    const std::uint64_t scored_all = scored_queries(*column->pass, column->m);
    std::optional<DictKeys<7>> keys = DictKeys<7>::make(
        {"scored", "scored_all", "aurc", "eaurc", "augrc", "rows", "infinite"});
    if (!keys) return nullptr;
    const std::vector<std::uint64_t>& infinite = column->pass->infinite;
    return build_dict(*keys, {unsigned_value(scored), unsigned_value(scored_all),
                              PyRef::steal(PyFloat_FromDouble(metrics::compute_aurc(curve))),
                              PyRef::steal(PyFloat_FromDouble(metrics::compute_eaurc(curve))),
                              PyRef::steal(PyFloat_FromDouble(metrics::compute_augrc(curve))),
                              unsigned_value(curve.size()),
                              unsigned_value(column->m < infinite.size() ? infinite[column->m] : 0)})
        .release();
  });
}

PyObject* pass_curve(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                     PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 2> bound{};
    const std::optional<MethodColumn> column =
        bound_method({"pass_curve", kMethodParameters, 2}, args, nargsf, kwnames, bound,
                     PassKinds::TableOrPairs);
    if (!column) return nullptr;
    return curve_to_py_list(curve_of(*column->pass, column->m)).release();
  });
}

PyObject* pass_calibrate(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) {
  static constexpr std::array<const char*, 5> kParameters = {"query_pass", "index", "error_rate",
                                                             "method", "confidence_level"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 5> bound{};
    const std::optional<MethodColumn> column = bound_method(
        {"pass_calibrate", kParameters, 4}, args, nargsf, kwnames, bound, PassKinds::TableOrPairs);
    if (!column) return nullptr;
    const std::optional<calibration::CalibrationRequest> request =
        calibration_request(*column->pass, column->m, bound[2], bound[3], bound[4]);
    if (!request) return nullptr;
    const std::vector<RiskCoverageRow>& curve = curve_of(*column->pass, column->m);
    Result<std::optional<double>> threshold = calibration::choose_threshold(curve, *request);
    if (!threshold) return map_err(std::move(threshold.error()));
    Result<PolicyFile> policy = calibration::calibrate_policy(curve, *request);
    if (!policy) return map_err(std::move(policy.error()));
    // The chosen row: the last one with the chosen threshold (thresholds are distinct).
    PyRef row = PyRef::borrow(Py_None);
    for (const RiskCoverageRow& candidate : curve) {
      if (*threshold && candidate.threshold == **threshold) row = curve_row_to_dict(candidate);
    }
    std::optional<DictKeys<3>> keys = DictKeys<3>::make({"policy", "threshold", "row"});
    if (!keys) return nullptr;
    return build_dict(*keys, {policy_to_dict(*policy), optional_float(*threshold), std::move(row)})
        .release();
  });
}

PyObject* pass_columns(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) {
  static constexpr std::array<const char*, 3> kParameters = {"query_pass", "start", "stop"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 3> bound{};
    QueryPassResult* pass =
        bound_pass({"pass_columns", kParameters, 1}, args, nargsf, kwnames, bound);
    if (pass == nullptr) return nullptr;
    const pipeline::QueryTable& table = pass->table;
    const std::optional<QueryRange> range = range_parameters(bound[1], bound[2], table.size());
    if (!range) return nullptr;
    const std::size_t first = range->begin;
    PyRef confidences = PyRef::steal(PyList_New(0));
    if (!confidences) return nullptr;
    for (const auto& column : table.confidences) {
      PyRef packed_column = packed_confidences(range->of(column));
      if (!packed_column || PyList_Append(confidences.get(), packed_column.get()) < 0)
        return nullptr;
    }
    std::optional<DictKeys<6>> keys = DictKeys<6>::make(
        {"query_id", "candidate_id", "score", "is_correct", "candidates", "confidences"});
    if (!keys) return nullptr;
    return build_dict(
               *keys,
               {text_list(TextSlice{table.query_ids, first, range->end}),
                text_list(TextSlice{table.top_candidate_ids, first, range->end}),
                packed<double>(range->size(),
                               [&](std::size_t q) { return table.top_scores[first + q]; }),
                label_column(range->of(table.top_labels)),
                packed<std::uint64_t>(range->size(),
                                      [&](std::size_t q) { return table.candidates[first + q]; }),
                std::move(confidences)})
        .release();
  });
}

PyObject* wilson_upper_bound(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) {
  static constexpr std::array<const char*, 3> kParameters = {"accepted", "errors",
                                                             "confidence_level"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 3> bound{};
    if (!bind_arguments({"wilson_upper_bound", kParameters, 3}, args, nargsf, kwnames, bound)) {
      return nullptr;
    }
    const std::optional<std::uint64_t> accepted = to_unsigned(bound[0]);
    if (!accepted) return nullptr;
    const std::optional<std::uint64_t> errors = to_unsigned(bound[1]);
    if (!errors) return nullptr;
    const std::optional<double> level = float_parameter(bound[2], "confidence_level");
    if (!level) return nullptr;
    const std::optional<double> z = calibration::binomial::z_value(*level);
    if (!z) return map_err(FerolinError::unsupported_confidence_level(*level));
    // No bound without an accepted query.
    if (*accepted == 0) return PyRef::borrow(Py_None).release();
    return PyFloat_FromDouble(calibration::binomial::wilson_upper_bound(*accepted, *errors, *z));
  });
}

PyObject* supported_confidence_level(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames) {
  static constexpr std::array<const char*, 1> kParameters = {"confidence_level"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 1> bound{};
    if (!bind_arguments({"supported_confidence_level", kParameters, 1}, args, nargsf, kwnames,
                        bound)) {
      return nullptr;
    }
    const std::optional<double> level = float_parameter(bound[0], "confidence_level");
    if (!level) return nullptr;
    return PyBool_FromLong(calibration::binomial::z_value(*level).has_value());
  });
}

}  // namespace ferolin::binding::native
