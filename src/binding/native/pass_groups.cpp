// Groups on a pass read with a group column: each query's label, grouped
// (Mondrian) calibration with its report, and decisions by a policy's rule
// (its group thresholds where it has them, else its threshold alone).
#include <array>
#include <limits>
#include <string>
#include <utility>

#include "binding/common/convert.h"
#include "binding/common/curve_dicts.h"
#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"
#include "binding/native/functions.h"
#include "binding/native/pass_access.h"
#include "binding/native/policy_groups.h"
#include "core/calibration/grouped.h"
#include "core/metrics/risk_coverage.h"
#include "core/policy/query_decisions.h"

namespace ferolin::binding::native {
namespace {

// Returns the pass's group labels, or nullptr with ValueError when it was
// read without a group column.
const std::vector<std::optional<std::string>>* pass_group_labels(const QueryPassResult& pass) {
  if (pass.table.groups.size() != pass.table.size()) {
    raise_value_error("this pass was read without a group column");
    return nullptr;
  }
  return &pass.table.groups;
}

PyRef outcome_dict(const calibration::ThresholdOutcome& outcome) {
  std::optional<DictKeys<4>> keys = DictKeys<4>::make({"labelled", "accepted", "errors", "risk"});
  if (!keys) return {};
  return build_dict(*keys, {unsigned_value(outcome.labelled), unsigned_value(outcome.accepted),
                            unsigned_value(outcome.errors), optional_float(outcome.risk)});
}

PyRef group_reports(const std::vector<calibration::GroupReport>& groups) {
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return {};
  std::optional<DictKeys<3>> keys = DictKeys<3>::make({"group", "threshold", "outcome"});
  if (!keys) return {};
  for (const calibration::GroupReport& group : groups) {
    PyRef entry = build_dict(
        *keys, {text(group.group), optional_float(group.threshold), outcome_dict(group.outcome)});
    if (!entry || PyList_Append(list.get(), entry.get()) < 0) return {};
  }
  return list;
}

}  // namespace

PyObject* pass_groups(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) {
  static constexpr std::array<const char*, 3> kParameters = {"query_pass", "start", "stop"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 3> bound{};
    QueryPassResult* pass =
        bound_pass({"pass_groups", kParameters, 1}, args, nargsf, kwnames, bound);
    if (pass == nullptr) return nullptr;
    const auto* labels = pass_group_labels(*pass);
    if (labels == nullptr) return nullptr;
    const std::optional<QueryRange> range = range_parameters(bound[1], bound[2], labels->size());
    if (!range) return nullptr;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(range->size())));
    if (!list) return nullptr;
    for (std::size_t q = range->begin; q < range->end; ++q) {
      PyObject* item = ((*labels)[q] ? text(*(*labels)[q]) : PyRef::borrow(Py_None)).release();
      if (item == nullptr) return nullptr;
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(q - range->begin), item);
    }
    return list.release();
  });
}

PyObject* pass_group_curve(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                           PyObject* kwnames) {
  static constexpr std::array<const char*, 3> kParameters = {"query_pass", "index", "group"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 3> bound{};
    const std::optional<MethodColumn> column =
        bound_method({"pass_group_curve", kParameters, 3}, args, nargsf, kwnames, bound);
    if (!column) return nullptr;
    const std::optional<std::string_view> group = text_parameter(bound[2], "group");
    if (!group) return nullptr;
    const auto* labels = pass_group_labels(*column->pass);
    if (labels == nullptr) return nullptr;
    const pipeline::QueryTable& table = column->pass->table;
    std::vector<std::optional<double>> confidences;
    std::vector<std::optional<bool>> top_labels;
    for (std::size_t q = 0; q < labels->size(); ++q) {
      if (!(*labels)[q] || *(*labels)[q] != *group) continue;
      confidences.push_back(table.confidences[column->m][q]);
      top_labels.push_back(table.top_labels[q]);
    }
    return curve_to_py_list(metrics::compute_curve(confidences, top_labels)).release();
  });
}

PyObject* pass_calibrate_groups(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                                PyObject* kwnames) {
  static constexpr std::array<const char*, 7> kParameters = {
      "query_pass", "index", "error_rate", "method", "group_col", "min_group", "confidence_level"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 7> bound{};
    const std::optional<MethodColumn> column =
        bound_method({"pass_calibrate_groups", kParameters, 6}, args, nargsf, kwnames, bound);
    if (!column) return nullptr;
    std::optional<calibration::CalibrationRequest> request =
        calibration_request(*column->pass, column->m, bound[2], bound[3], bound[6]);
    if (!request) return nullptr;
    const std::optional<std::string_view> group_col = text_parameter(bound[4], "group_col");
    if (!group_col) return nullptr;
    const std::optional<std::uint64_t> min_group = unsigned_parameter(bound[5], "min_group");
    if (!min_group) return nullptr;
    const auto* labels = pass_group_labels(*column->pass);
    if (labels == nullptr) return nullptr;
    const calibration::GroupedRequest grouped{*request, std::string(*group_col), *min_group};
    const pipeline::QueryTable& table = column->pass->table;
    GilFreeCall call;
    Result<calibration::GroupedCalibration> result = call.run([&] {
      return calibration::calibrate_groups(table.confidences[column->m], table.top_labels, *labels,
                                           grouped);
    });
    if (!result) return native_error(std::move(result.error()));
    std::optional<DictKeys<5>> keys =
        DictKeys<5>::make({"policy", "groups", "ungrouped", "grouped_policy", "global_only"});
    if (!keys) return nullptr;
    return build_dict(*keys, {grouped_policy_to_dict(result->policy), group_reports(result->groups),
                              outcome_dict(result->ungrouped), outcome_dict(result->grouped_policy),
                              outcome_dict(result->global_only)})
        .release();
  });
}

PyObject* pass_decide(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) {
  static constexpr std::array<const char*, 4> kParameters = {"query_pass", "index", "threshold",
                                                             "group_thresholds"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 4> bound{};
    const std::optional<MethodColumn> column =
        bound_method({"pass_decide", kParameters, 3}, args, nargsf, kwnames, bound);
    if (!column) return nullptr;
    PolicyFile policy;
    const std::optional<double> threshold = float_parameter(bound[2], "threshold");
    if (!threshold) return nullptr;
    policy.threshold = *threshold;
    std::optional<std::optional<GroupThresholds>> groups =
        group_thresholds_parameter(bound[3], "group_thresholds");
    if (!groups) return nullptr;
    policy.group_thresholds = std::move(*groups);
    // Without a group column every query has no group, so the policy's threshold.
    const std::vector<policy::QueryDecision> decisions = policy::decide_queries(
        column->pass->table.confidences[column->m], column->pass->table.groups, policy);
    std::optional<DictKeys<2>> keys = DictKeys<2>::make({"accepted", "threshold"});
    if (!keys) return nullptr;
    return build_dict(
               *keys,
               {packed<std::uint8_t>(decisions.size(),
                                     [&](std::size_t q) {
                                       return static_cast<std::uint8_t>(decisions[q].accepted);
                                     }),
                packed<double>(decisions.size(),
                               [&](std::size_t q) { return decisions[q].threshold; })})
        .release();
  });
}

}  // namespace ferolin::binding::native
