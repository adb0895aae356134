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
#include "binding/native/records.h"
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

PyRef outcome_record(PyObject* module, const calibration::ThresholdOutcome& outcome) {
  return make_record(module, kThresholdOutcome,
                     {unsigned_value(outcome.labelled), unsigned_value(outcome.accepted),
                      unsigned_value(outcome.errors), optional_float(outcome.risk)});
}

PyRef group_reports(PyObject* module, const std::vector<calibration::GroupReport>& groups) {
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return {};
  for (const calibration::GroupReport& group : groups) {
    PyRef entry = make_record(module, kGroupReport,
                              {text(group.group), optional_float(group.threshold),
                               outcome_record(module, group.outcome)});
    if (!entry || PyList_Append(list.get(), entry.get()) < 0) return {};
  }
  return list;
}

PyObject* groups(PyObject*, QueryPassResult& pass, BoundArguments& arguments) {
  const auto* labels = pass_group_labels(pass);
  if (labels == nullptr) return nullptr;
  const Argument start = arguments.next();
  const std::optional<QueryRange> range = range_parameters(start, arguments.next(), labels->size());
  if (!range) return nullptr;
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(range->size())));
  if (!list) return nullptr;
  for (std::size_t q = range->begin; q < range->end; ++q) {
    PyObject* item = ((*labels)[q] ? text(*(*labels)[q]) : PyRef::borrow(Py_None)).release();
    if (item == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(q - range->begin), item);
  }
  return list.release();
}

PyObject* group_curve(PyObject*, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  const std::optional<std::string_view> group = text_parameter(arguments.next());
  if (!group) return nullptr;
  const auto* labels = pass_group_labels(pass);
  if (labels == nullptr) return nullptr;
  std::vector<std::optional<double>> confidences;
  std::vector<std::optional<bool>> top_labels;
  for (std::size_t q = 0; q < labels->size(); ++q) {
    if (!(*labels)[q] || *(*labels)[q] != *group) continue;
    confidences.push_back(pass.table.confidences[*m][q]);
    top_labels.push_back(pass.table.top_labels[q]);
  }
  return curve_to_py_list(metrics::compute_curve(confidences, top_labels)).release();
}

PyObject* calibrate_groups(PyObject* module, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  const Argument error_rate = arguments.next();
  const Argument method = arguments.next();
  const std::optional<std::string_view> group_col = text_parameter(arguments.next());
  if (!group_col) return nullptr;
  const std::optional<std::uint64_t> min_group = unsigned_parameter(arguments.next());
  if (!min_group) return nullptr;
  std::optional<calibration::CalibrationRequest> request =
      calibration_request(pass, *m, error_rate, method, arguments.next());
  if (!request) return nullptr;
  const auto* labels = pass_group_labels(pass);
  if (labels == nullptr) return nullptr;
  const calibration::GroupedRequest grouped{*request, std::string(*group_col), *min_group};
  GilFreeCall call;
  Result<calibration::GroupedCalibration> result = call.run([&] {
    return calibration::calibrate_groups(pass.table.confidences[*m], pass.table.top_labels,
                                         *labels, grouped);
  });
  if (!result) return native_error(std::move(result.error()));
  return make_record(module, kGroupedCalibration,
                     {grouped_policy_to_dict(result->policy), group_reports(module, result->groups),
                      outcome_record(module, result->ungrouped),
                      outcome_record(module, result->grouped_policy),
                      outcome_record(module, result->global_only)})
      .release();
}

PyObject* decide(PyObject* module, QueryPassResult& pass, BoundArguments& arguments) {
  const std::optional<std::size_t> m = method_index(pass, arguments.next());
  if (!m) return nullptr;
  PolicyFile policy;
  const std::optional<double> threshold = float_parameter(arguments.next());
  if (!threshold) return nullptr;
  policy.threshold = *threshold;
  const Argument thresholds = arguments.next();
  std::optional<std::optional<GroupThresholds>> groups =
      group_thresholds_parameter(thresholds.object, thresholds.name);
  if (!groups) return nullptr;
  policy.group_thresholds = std::move(*groups);
  // Without a group column every query has no group, so the policy's threshold.
  const std::vector<policy::QueryDecision> decisions =
      policy::decide_queries(pass.table.confidences[*m], pass.table.groups, policy);
  return make_record(
             module, kDecisions,
             {packed<std::uint8_t>(
                  decisions.size(),
                  [&](std::size_t q) { return static_cast<std::uint8_t>(decisions[q].accepted); }),
              packed<double>(decisions.size(),
                             [&](std::size_t q) { return decisions[q].threshold; })})
      .release();
}

constexpr std::array<const char*, 2> kRangeParameters = {"start", "stop"};
constexpr std::array<const char*, 2> kGroupCurveParameters = {"index", "group"};
constexpr std::array<const char*, 6> kCalibrateGroupsParameters = {
    "index", "error_rate", "method", "group_col", "min_group", "confidence_level"};
constexpr std::array<const char*, 3> kDecideParameters = {"index", "threshold",
                                                          "group_thresholds"};

}  // namespace

const PassMethod kGroupsMethod{
    {"groups", kRangeParameters, 0}, PassKinds::TableOnly, groups,
    "groups($self, start=0, stop=None)\n--\n\nEach query's group label (None where its cell is "
    "empty); ValueError for a pass read without a group column."};
const PassMethod kGroupCurveMethod{
    {"group_curve", kGroupCurveParameters, 2}, PassKinds::TableOnly, group_curve,
    "group_curve($self, index, group)\n--\n\nThe risk-coverage curve of the queries whose group "
    "label is `group`."};
const PassMethod kCalibrateGroupsMethod{
    {"calibrate_groups", kCalibrateGroupsParameters, 5}, PassKinds::TableOnly, calibrate_groups,
    "calibrate_groups($self, index, error_rate, method, group_col, min_group, "
    "confidence_level=None)\n--\n\nGrouped calibration: the policy (with group_col and "
    "group_thresholds), one report per label, and the outcomes (labelled, accepted, errors, "
    "risk) of the policy without groups, with them, and of the global threshold alone."};
const PassMethod kDecideMethod{
    {"decide", kDecideParameters, 2}, PassKinds::TableOnly, decide,
    "decide($self, index, threshold, group_thresholds=None)\n--\n\nDecisions by a policy's "
    "rule: accepted (one byte a query) and the threshold applied (float64)."};

}  // namespace ferolin::binding::native
