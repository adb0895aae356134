// The private module ferolin_tools._native: the companion package's way into
// the core (one read of a table for several methods, gzip-compressed tables,
// other layouts), kept apart from the public module `ferolin`. The
// execution slot adds the functions and the constants that the command line
// takes its method names from.
#include <array>
#include <string_view>

#include "binding/common/args.h"
#include "binding/common/dict_builder.h"
#include "binding/common/module_state.h"
#include "binding/common/py_ref.h"
#include "binding/native/core_errors.h"
#include "binding/native/functions.h"
#include "core/argument_names.h"
#include "core/calibration/calibrate_policy.h"
#include "core/calibration/grouped.h"
#include "core/stats/bootstrap.h"
#include "core/stats/percentile.h"
#include "core/table/candidate_columns.h"

namespace ferolin::binding::native {
namespace {

PyMethodDef kFunctions[] = {
    {"run_pass", fastcall<run_pass>(), kFastcallFlags,
     "run_pass(table, scores, delimiter=',', columns=None, keep_ids=False, progress=None, "
     "group_column=None, fingerprint=False, confidence_column=None, lower_is_better=False, "
     "decimal='.', na_values=None, threads=None, max_field_bytes=None)\n--\n\n"
     "Read a table once for several scoring methods (a plain file by `threads` threads; no "
     "cell longer than max_field_bytes; with confidence_column, the top candidate's value in "
     "that column as one more column, negated with lower_is_better). "
     "Returns a dict: pass, header (the header's fields), compressed, sha256 (of the file's "
     "bytes when fingerprint is true, else None), file_bytes. CoreError, with the header as "
     "far as read, for a table that cannot be read."},
    {"run_arrow_pass", fastcall<run_arrow_pass>(), kFastcallFlags,
     "run_arrow_pass(stream, scores, columns=None, keep_ids=False, progress=None, "
     "group_column=None, confidence_column=None, lower_is_better=False)\n--\n\n"
     "run_pass over an Arrow C stream: the PyCapsule 'arrow_array_stream' of "
     "obj.__arrow_c_stream__(), taken and read without the GIL. Returns a dict: pass, header "
     "(the stream's column names); CoreError as run_pass."},
    {"pass_counts", fastcall<pass_counts>(), kFastcallFlags,
     "pass_counts(query_pass)\n--\n\nQueries, rows, labelled queries, labelled queries with a "
     "single candidate."},
    {"pass_summary", fastcall<pass_summary>(), kFastcallFlags,
     "pass_summary(query_pass, index)\n--\n\nLabelled queries scored, AURC, E-AURC and curve "
     "rows of one method column."},
    {"pass_curve", fastcall<pass_curve>(), kFastcallFlags,
     "pass_curve(query_pass, index)\n--\n\nThe risk-coverage curve of one method column."},
    {"pass_calibrate", fastcall<pass_calibrate>(), kFastcallFlags,
     "pass_calibrate(query_pass, index, error_rate, method, confidence_level=None)\n--\n\n"
     "Calibrate one method column: a dict of policy, threshold (None when no row qualifies) "
     "and the chosen curve row (or None)."},
    {"pass_columns", fastcall<pass_columns>(), kFastcallFlags,
     "pass_columns(query_pass, start=0, stop=None)\n--\n\nThe per-query columns of the "
     "queries from start to stop; numbers packed in bytearrays of native float64 and uint64."},
    {"wilson_upper_bound", fastcall<wilson_upper_bound>(), kFastcallFlags,
     "wilson_upper_bound(accepted, errors, confidence_level)\n--\n\nThe Wilson score upper "
     "bound on the error rate, or None without accepted queries."},
    {"pass_groups", fastcall<pass_groups>(), kFastcallFlags,
     "pass_groups(query_pass, start=0, stop=None)\n--\n\nEach query's group label (None "
     "where its cell is empty); "
     "ValueError for a pass read without a group column."},
    {"pass_group_curve", fastcall<pass_group_curve>(), kFastcallFlags,
     "pass_group_curve(query_pass, index, group)\n--\n\nThe risk-coverage curve of the "
     "queries whose group label is `group`."},
    {"pass_calibrate_groups", fastcall<pass_calibrate_groups>(), kFastcallFlags,
     "pass_calibrate_groups(query_pass, index, error_rate, method, group_col, min_group, "
     "confidence_level=None)\n--\n\nGrouped calibration: a dict of policy (with group_col and "
     "group_thresholds), groups (one report per label), ungrouped, grouped_policy and "
     "global_only (labelled, accepted, errors, risk)."},
    {"pass_decide", fastcall<pass_decide>(), kFastcallFlags,
     "pass_decide(query_pass, index, threshold, group_thresholds=None)\n--\n\nDecisions by a "
     "policy's rule: accepted (one byte a query) and the threshold applied (float64)."},
    {"pass_operating_points", fastcall<pass_operating_points>(), kFastcallFlags,
     "pass_operating_points(query_pass, index, coverages, target_risk)\n--\n\nThe risk at each "
     "coverage (None where no row qualifies) and the largest coverage whose risk is at most "
     "the target (or None)."},
    {"pass_bootstrap", fastcall<pass_bootstrap>(), kFastcallFlags,
     "pass_bootstrap(query_pass, index, threshold, replicates, seed, level=0.95, "
     "progress=None)\n--\n\nPercentile-bootstrap intervals of AURC, E-AURC, AUGRC and the "
     "coverage and risk at the threshold, and the Wilson interval of that risk."},
    {"pass_risk_band", fastcall<pass_risk_band>(), kFastcallFlags,
     "pass_risk_band(query_pass, index, coverages, replicates, seed, level=0.95, "
     "progress=None)\n--\n\nThe pointwise bootstrap interval of the risk at each coverage."},
    {"wilson_interval", fastcall<wilson_interval>(), kFastcallFlags,
     "wilson_interval(accepted, errors, level)\n--\n\nThe two-sided Wilson score interval of "
     "an error rate (NaN ends without accepted queries)."},
    {"read_policy", fastcall<read_policy>(), kFastcallFlags,
     "read_policy(path)\n--\n\nA policy file as a policy dict with group_col and "
     "group_thresholds (None where absent). CoreError (a RuntimeError) for a file that "
     "cannot be read."},
    {"write_policy", fastcall<write_policy>(), kFastcallFlags,
     "write_policy(path, policy, extra=None)\n--\n\nWrite a policy dict (with its group fields) "
     "as ferolin.save_policy does, then the extra keys ({key: JSON text})."},
    {"policy_text", fastcall<policy_text>(), kFastcallFlags,
     "policy_text(policy, extra=None)\n--\n\nThe text write_policy writes."},
    {"supported_confidence_level", fastcall<supported_confidence_level>(), kFastcallFlags,
     "supported_confidence_level(confidence_level)\n--\n\nWhether binomial calibration supports "
     "the level."},
    {"read_score_tables", fastcall<read_score_tables>(), kFastcallFlags,
     "read_score_tables(tables, scores=None)\n--\n\nRead per-query tables written by `ferolin "
     "scores` (plain or gzip) into one set of query pairs for `scores` (None: the method "
     "columns of the first table). Returns a dict: pass, header (of the first table), scores. "
     "CoreError for a table that cannot be read, with its header and source (its index; "
     "None for a query id in two tables)."},
    {"pack_pass", fastcall<pack_pass>(), kFastcallFlags,
     "pack_pass(query_pass)\n--\n\nThe queries of a pass run with keep_ids, as bytes for "
     "merge_packed."},
    {"merge_packed", fastcall<merge_packed>(), kFastcallFlags,
     "merge_packed(names, packed, scores)\n--\n\nMerge packed passes into one set of query "
     "pairs; the same dict as read_score_tables."},
    {"pass_probability_check", fastcall<pass_probability_check>(), kFastcallFlags,
     "pass_probability_check(query_pass)\n--\n\nNone, or for a pass whose methods read "
     "probabilities: outside (rows outside [0, 1]) and above_one (queries whose "
     "probabilities sum above 1 by more than rounding)."},
    {"output_open", fastcall<output_open>(), kFastcallFlags,
     "output_open(path)\n--\n\nAn output file for `path`, written by output_write and put in "
     "place by output_commit as policy files are (OSError when it cannot be opened)."},
    {"output_write", fastcall<output_write>(), kFastcallFlags,
     "output_write(output, data)\n--\n\nAppend the bytes `data`; returns their length."},
    {"output_commit", fastcall<output_commit>(), kFastcallFlags,
     "output_commit(output)\n--\n\nPut what was written in place of the target."},
    {"output_abandon", fastcall<output_abandon>(), kFastcallFlags,
     "output_abandon(output)\n--\n\nDrop what was written; the target stays as it was."},
    {nullptr, nullptr, 0, nullptr},
};

PyRef text_tuple(std::span<const std::string_view> names) {
  PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  if (!tuple) return {};
  for (std::size_t i = 0; i < names.size(); ++i) {
    PyObject* item = text(names[i]).release();
    if (item == nullptr) return {};
    PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), item);
  }
  return tuple;
}

// ((score name, policy name, display name), ...) in the methods' order.
PyRef scoring_methods() {
  std::array<PyRef, kScoringMethodCount> entries;
  for (int i = 0; i < kScoringMethodCount; ++i) {
    const auto method = static_cast<ScoringMethod>(i);
    const std::array<std::string_view, 3> names = {argument_name(method), policy_name(method),
                                                   display_name(method)};
    entries[static_cast<std::size_t>(i)] = text_tuple(names);
    if (!entries[static_cast<std::size_t>(i)]) return {};
  }
  PyRef tuple = PyRef::steal(PyTuple_New(kScoringMethodCount));
  if (!tuple) return {};
  for (int i = 0; i < kScoringMethodCount; ++i) {
    PyTuple_SetItem(tuple.get(), i, entries[static_cast<std::size_t>(i)].release());
  }
  return tuple;
}

// ((spelling, score name), ...): every spelling a score argument accepts,
// with the hyphen spelling of its method.
PyRef score_name_pairs() {
  PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(kScoreArgumentNames.size())));
  if (!tuple) return {};
  Py_ssize_t i = 0;
  for (const ScoreArgumentName& entry : kScoreArgumentNames) {
    const std::array<std::string_view, 2> pair = {entry.name, argument_name(entry.method)};
    PyObject* item = text_tuple(pair).release();
    if (item == nullptr) return {};
    PyTuple_SetItem(tuple.get(), i++, item);
  }
  return tuple;
}

PyRef calibration_methods() {
  std::array<std::string_view, kCalibrationMethodCount> names;
  for (int i = 0; i < kCalibrationMethodCount; ++i) {
    names[static_cast<std::size_t>(i)] = policy_name(static_cast<CalibrationMethod>(i));
  }
  return text_tuple(names);
}

PyRef column_names() {
  // IsCorrect is the last column of the enumeration.
  std::vector<std::string_view> names;
  for (int i = 0; i <= static_cast<int>(table::Column::IsCorrect); ++i) {
    names.push_back(table::column_name(static_cast<table::Column>(i)));
  }
  return text_tuple(names);
}

// (fewest, most) bootstrap replicates at the interval level the companion uses.
PyRef replicate_range() {
  const Result<stats::IntervalLevel> level = stats::interval_level(stats::kDefaultIntervalLevel);
  if (!level) return PyRef::steal(PyErr_Format(PyExc_SystemError, "no default interval level"));
  return PyRef::steal(Py_BuildValue("(KK)",
                                    static_cast<unsigned long long>(stats::min_values_for(*level)),
                                    static_cast<unsigned long long>(stats::kMaxReplicates)));
}

int add_constant(PyObject* module, const char* name, PyRef value) {
  if (!value) return -1;
  return PyObject_SetAttrString(module, name, value.get());
}

int exec_module(PyObject* module) {
  // Created before the functions, so that none runs without it.
  if (init_module_state(module, "ferolin_tools._native.InternalError") < 0) return -1;
  module_state(module).core_error = new_core_error_class();
  if (module_state(module).core_error == nullptr) return -1;
  if (add_constant(module, "CoreError", PyRef::borrow(module_state(module).core_error)) < 0) {
    return -1;
  }
  if (PyModule_AddFunctions(module, kFunctions) < 0) return -1;
  if (add_constant(module, "SCORING_METHODS", scoring_methods()) < 0) return -1;
  if (add_constant(module, "SCORE_NAMES", score_name_pairs()) < 0) return -1;
  if (add_constant(module, "CALIBRATION_METHODS", calibration_methods()) < 0) return -1;
  if (add_constant(module, "COLUMNS", column_names()) < 0) return -1;
  if (add_constant(module, "DEFAULT_MIN_GROUP",
                   PyRef::steal(PyLong_FromUnsignedLongLong(calibration::kDefaultMinGroup))) < 0) {
    return -1;
  }
  if (add_constant(module, "REPLICATE_RANGE", replicate_range()) < 0) return -1;
  return add_constant(module, "NO_THRESHOLD",
                      PyRef::steal(PyFloat_FromDouble(calibration::kNoThreshold)));
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "ferolin_tools._native",
    "The companion package's private way into ferolin's core; not a public API.",
    sizeof(ModuleState),
    nullptr,  // m_methods: the execution slot adds the functions
    kSlots,
    traverse_module_state,
    clear_module_state,
    free_module_state,
};

}  // namespace
}  // namespace ferolin::binding::native

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&ferolin::binding::native::kModule); }
