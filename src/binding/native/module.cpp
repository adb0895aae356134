// The private module ferolin_tools._native: the companion package's way into
// the core (one read of a table for several methods, gzip-compressed tables,
// other layouts), kept apart from the public module `ferolin`. The
// execution slot adds the types (the pass and the records it returns), the
// functions and the constants that the command line takes its method names
// from.
#include <array>
#include <string_view>

#include "binding/common/args.h"
#include "binding/common/dict_builder.h"
#include "binding/common/py_ref.h"
#include "binding/native/functions.h"
#include "binding/native/native_state.h"
#include "core/argument_names.h"
#include "core/calibration/calibrate_policy.h"
#include "core/calibration/grouped.h"
#include "core/stats/bootstrap.h"
#include "core/stats/percentile.h"
#include "core/table/candidate_columns.h"

namespace ferolin::binding::native {
namespace {

PyMethodDef kFunctions[] = {
    function_def<kRunPass>(
        "run_pass(table, scores, delimiter=',', columns=None, keep_ids=False, progress=None, "
        "group_column=None, fingerprint=False, confidence_column=None, lower_is_better=False, "
        "decimal='.', na_values=None, threads=None, max_field_bytes=None)\n--\n\n"
        "Read a table once for several scoring methods (a plain file by `threads` threads; no "
        "cell longer than max_field_bytes; with confidence_column, the top candidate's value in "
        "that column as one more column, negated with lower_is_better). "
        "Returns a ReadOutcome: query_pass (a Pass), header (the header's fields), compressed, "
        "sha256 (of the file's bytes when fingerprint is true, else None), file_bytes. "
        "CoreError, with the header as far as read, for a table that cannot be read."),
    function_def<kRunArrowPass>(
        "run_arrow_pass(stream, scores, columns=None, keep_ids=False, progress=None, "
        "group_column=None, confidence_column=None, lower_is_better=False)\n--\n\n"
        "run_pass over an Arrow C stream: the PyCapsule 'arrow_array_stream' of "
        "obj.__arrow_c_stream__(), taken and read without the GIL. Returns a ReadOutcome: "
        "query_pass, header (the stream's column names); CoreError as run_pass."),
    function_def<kWilsonUpperBound>(
        "wilson_upper_bound(accepted, errors, confidence_level)\n--\n\nThe Wilson score upper "
        "bound on the error rate, or None without accepted queries."),
    function_def<kWilsonInterval>(
        "wilson_interval(accepted, errors, level)\n--\n\nThe two-sided Wilson score interval of "
        "an error rate (NaN ends without accepted queries)."),
    function_def<kReadPolicy>(
        "read_policy(path)\n--\n\nA policy file as a policy dict with group_col and "
        "group_thresholds (None where absent). CoreError (a RuntimeError) for a file that "
        "cannot be read."),
    function_def<kWritePolicy>(
        "write_policy(path, policy, extra=None)\n--\n\nWrite a policy dict (with its group fields) "
        "as ferolin.save_policy does, then the extra keys ({key: JSON text})."),
    function_def<kPolicyText>(
        "policy_text(policy, extra=None)\n--\n\nThe text write_policy writes."),
    function_def<kSupportedConfidenceLevel>(
        "supported_confidence_level(confidence_level)\n--\n\nWhether binomial calibration supports "
        "the level."),
    function_def<kReadScoreTables>(
        "read_score_tables(tables, scores=None)\n--\n\nRead per-query tables written by `ferolin "
        "scores` (plain or gzip) into one set of query pairs for `scores` (None: the method "
        "columns of the first table). Returns a ReadOutcome: query_pass, header (of the first "
        "table), scores. CoreError for a table that cannot be read, with its header and source "
        "(its index; None for a query id in two tables)."),
    function_def<kMergePacked>(
        "merge_packed(names, packed, scores)\n--\n\nMerge packed passes (Pass.pack()) into one "
        "set of query pairs; the same record as read_score_tables."),
    function_def<kOutputOpen>(
        "output_open(path)\n--\n\nAn OutputFile for `path`, written by its write() and put "
        "in place by its commit() as policy files are (OSError when it cannot be opened)."),
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

// Adds the module's types under their own names (Pass, OutputFile, CoreError,
// Counts, ...).
int add_types(PyObject* module) {
  const NativeState& state = native_state(module);
  for (PyObject* type : {state.pass_type, state.output_type, state.core_error}) {
    if (PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type)) < 0) return -1;
  }
  for (PyObject* type : state.records) {
    if (PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type)) < 0) return -1;
  }
  return 0;
}

int exec_module(PyObject* module) {
  // Created before the functions, so that none runs without it.
  if (init_native_state(module) < 0) return -1;
  if (add_types(module) < 0) return -1;
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
    sizeof(NativeState),
    nullptr,  // m_methods: the execution slot adds the functions
    kSlots,
    traverse_native_state,
    clear_native_state,
    free_native_state,
};

}  // namespace
}  // namespace ferolin::binding::native

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&ferolin::binding::native::kModule); }
