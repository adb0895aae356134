// The records the private module returns: struct sequences (named tuples
// of the C API) whose fields are named once, here. The stub _native.pyi
// declares the same fields for the type checker, and stubtest holds the two
// together, so a misspelt field fails in the checker, not where it is read.
#pragma once

#include <array>
#include <cstddef>

#include "binding/common/py_ref.h"

namespace ferolin::binding::native {

enum class RecordKind : std::size_t {
  ReadOutcome,
  Counts,
  Summary,
  Calibration,
  Columns,
  ThresholdOutcome,
  GroupReport,
  GroupedCalibration,
  Decisions,
  OperatingPoints,
  MetricInterval,
  Bootstrap,
  ProbabilityCheck,
};
inline constexpr std::size_t kRecordKindCount = 13;

template <std::size_t N>
struct RecordSpec {
  RecordKind kind;
  const char* name;  // qualified: ferolin_tools._native.<Name>
  const char* doc;
  std::array<const char*, N> fields;
};

// A read of a table or a merge of shards: the pass, the header, how the
// file was stored, and for merges the scores. A failure is raised as
// CoreError (core_errors.h).
inline constexpr RecordSpec<6> kReadOutcome{
    RecordKind::ReadOutcome,
    "ferolin_tools._native.ReadOutcome",
    "What a read or a merge gives: the pass, with what was read.",
    {"query_pass", "header", "compressed", "sha256", "file_bytes", "scores"}};
inline constexpr RecordSpec<6> kCounts{
    RecordKind::Counts,
    "ferolin_tools._native.Counts",
    "The queries of a pass (tied_tops is None for merged shards).",
    {"queries", "rows", "labelled", "single_candidate", "labelled_single_candidate",
     "tied_tops"}};
inline constexpr RecordSpec<7> kSummary{
    RecordKind::Summary,
    "ferolin_tools._native.Summary",
    "One method column's labelled queries scored, all queries scored, areas, curve rows and "
    "infinite confidences.",
    {"scored", "scored_all", "aurc", "eaurc", "augrc", "rows", "infinite"}};
inline constexpr RecordSpec<3> kCalibration{
    RecordKind::Calibration,
    "ferolin_tools._native.Calibration",
    "A policy dict, its threshold (None when no row qualifies) and the chosen curve row.",
    {"policy", "threshold", "row"}};
inline constexpr RecordSpec<6> kColumns{
    RecordKind::Columns,
    "ferolin_tools._native.Columns",
    "Per-query columns; numbers packed in bytearrays of native float64 and uint64.",
    {"query_id", "candidate_id", "score", "is_correct", "candidates", "confidences"}};
inline constexpr RecordSpec<4> kThresholdOutcome{
    RecordKind::ThresholdOutcome,
    "ferolin_tools._native.ThresholdOutcome",
    "What a threshold does to labelled queries.",
    {"labelled", "accepted", "errors", "risk"}};
inline constexpr RecordSpec<3> kGroupReport{
    RecordKind::GroupReport,
    "ferolin_tools._native.GroupReport",
    "One group's threshold (None: the global one) and its outcome.",
    {"group", "threshold", "outcome"}};
inline constexpr RecordSpec<5> kGroupedCalibration{
    RecordKind::GroupedCalibration,
    "ferolin_tools._native.GroupedCalibration",
    "A grouped policy dict, one report a group and the outcomes of the policies compared.",
    {"policy", "groups", "ungrouped", "grouped_policy", "global_only"}};
inline constexpr RecordSpec<2> kDecisions{
    RecordKind::Decisions,
    "ferolin_tools._native.Decisions",
    "Accepted (one byte a query) and the threshold applied (float64).",
    {"accepted", "threshold"}};
inline constexpr RecordSpec<2> kOperatingPoints{
    RecordKind::OperatingPoints,
    "ferolin_tools._native.OperatingPoints",
    "The risk at each coverage asked for and the largest coverage within a target risk.",
    {"risk_at_coverage", "coverage_at_risk"}};
inline constexpr RecordSpec<3> kMetricInterval{
    RecordKind::MetricInterval,
    "ferolin_tools._native.MetricInterval",
    "A metric, its percentile interval and the replicates where it was NaN.",
    {"estimate", "interval", "nan_replicates"}};
inline constexpr RecordSpec<12> kBootstrap{
    RecordKind::Bootstrap,
    "ferolin_tools._native.Bootstrap",
    "Bootstrap intervals of a method column's metrics, with the request that made them.",
    {"aurc", "eaurc", "augrc", "coverage", "risk", "risk_wilson", "labelled", "accepted",
     "errors", "replicates", "seed", "level"}};
inline constexpr RecordSpec<2> kProbabilityCheck{
    RecordKind::ProbabilityCheck,
    "ferolin_tools._native.ProbabilityCheck",
    "Rows whose probability lies outside [0, 1]; queries whose probabilities sum above 1.",
    {"outside", "above_one"}};

// Creates the record types into `types` (one per kind, new references).
// Returns 0, or -1 with an exception set.
int create_record_types(std::array<PyObject*, kRecordKindCount>& types);

// Returns the record type of `kind` of the module (borrowed).
[[nodiscard]] PyObject* record_type(PyObject* module, RecordKind kind);

// Returns a new record of `spec` holding `values`, or an empty PyRef with an
// exception set (also when a value failed to be made).
template <std::size_t N>
[[nodiscard]] PyRef make_record(PyObject* module, const RecordSpec<N>& spec,
                                std::array<PyRef, N> values) {
  for (const PyRef& value : values) {
    if (!value) return {};
  }
  PyRef record = PyRef::steal(
      PyStructSequence_New(reinterpret_cast<PyTypeObject*>(record_type(module, spec.kind))));
  if (!record) return {};
  for (std::size_t i = 0; i < N; ++i) {
    PyStructSequence_SetItem(record.get(), static_cast<Py_ssize_t>(i), values[i].release());
  }
  return record;
}

}  // namespace ferolin::binding::native
