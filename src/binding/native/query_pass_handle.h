// The result of one pass over a table, held for Python in a capsule: the
// per-query table and, computed once on first use, each method's curve. The
// queries of many shards merged into compact pairs take the same capsule, so
// that counts, curves and calibrations read both alike.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// Returns a new capsule that owns `result`, or an empty PyRef with an
// exception set.
[[nodiscard]] PyRef wrap_pass(QueryPassResult result);

// Which results a function takes: only passes over a table (with their
// per-query columns), or merged pairs too.
enum class PassKinds { TableOnly, TableOrPairs };

// Returns the result inside a capsule made by wrap_pass, or nullptr with
// TypeError set for any other object and, unless `kinds` allows them, for
// merged pairs.
[[nodiscard]] QueryPassResult* unwrap_pass(PyObject* capsule,
                                           PassKinds kinds = PassKinds::TableOnly);

}  // namespace ferolin::binding::native
