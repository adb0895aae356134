// The query pass as a Python type, ferolin_tools._native.Pass: the result of
// one read of a table (the per-query table and, computed once on first use,
// each method's curve) with its methods. The queries of many shards merged
// into compact pairs are a Pass too, so that counts, curves and calibrations
// read both alike; the methods that need per-query columns refuse them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "binding/common/args.h"
#include "binding/common/py_ref.h"
#include "core/pipeline/query_pass.h"
#include "core/shards/query_pairs.h"
#include "core/types.h"

namespace ferolin::binding::native {

struct QueryPassResult {
  pipeline::QueryTable table;
  // curves[m]: the curve of table.methods[m], once computed; set once, with
  // the lock held, and never replaced.
  std::vector<std::optional<std::vector<RiskCoverageRow>>> curves;
  // Set, with `table` left empty, for queries merged from shards: the
  // labelled pairs and the counts, no per-query columns.
  std::optional<shards::QueryPairs> pairs;
  // infinite[m]: the infinite confidences of method m, held as none
  // (infinite_confidences.h).
  std::vector<std::uint64_t> infinite;
};

// Returns the scoring methods of the result's columns.
[[nodiscard]] const std::vector<ScoringMethod>& methods_of(const QueryPassResult& result);

// Which passes a method takes: only passes over a table (with their
// per-query columns), or merged pairs too.
enum class PassKinds { TableOnly, TableOrPairs };

// A method of Pass: its parameters (named once, in the signature), the
// passes it takes and its body, which gets the arguments bound.
struct PassMethod {
  Signature signature;
  PassKinds kinds;
  PyObject* (*body)(PyObject* module, QueryPassResult& pass, BoundArguments& arguments);
  const char* doc;  // with the text signature: "name($self, a, b=None)\n--\n\n..."
};

// The methods, defined beside what they compute (pass_results.cpp,
// pass_groups.cpp, pass_statistics.cpp, pass_checks.cpp, shard_functions.cpp).
extern const PassMethod kCountsMethod;
extern const PassMethod kSummaryMethod;
extern const PassMethod kCurveMethod;
extern const PassMethod kCalibrateMethod;
extern const PassMethod kColumnsMethod;
extern const PassMethod kGroupsMethod;
extern const PassMethod kGroupCurveMethod;
extern const PassMethod kCalibrateGroupsMethod;
extern const PassMethod kDecideMethod;
extern const PassMethod kOperatingPointsMethod;
extern const PassMethod kBootstrapMethod;
extern const PassMethod kRiskBandMethod;
extern const PassMethod kProbabilityCheckMethod;
extern const PassMethod kPackMethod;

// Returns the new type Pass for `module`, or nullptr with an exception set.
[[nodiscard]] PyObject* new_pass_type(PyObject* module);

// Returns a new Pass of `module` that owns `result`, or an empty PyRef with
// an exception set.
[[nodiscard]] PyRef wrap_pass(PyObject* module, QueryPassResult result);

}  // namespace ferolin::binding::native
