// The result of one pass over a table, held for Python in a capsule: the
// per-query table and, computed once on first use, each method's curve.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "binding/common/py_ref.h"
#include "core/pipeline/query_pass.h"
#include "core/types.h"

namespace ferolin::binding::native {

struct QueryPassResult {
  pipeline::QueryTable table;
  // curves[m]: the curve of table.methods[m], once computed.
  std::vector<std::optional<std::vector<RiskCoverageRow>>> curves;
};

// Returns a new capsule that owns `result`, or an empty PyRef with an
// exception set.
[[nodiscard]] PyRef wrap_pass(QueryPassResult result);

// Returns the result inside a capsule made by wrap_pass, or nullptr with
// TypeError set for any other object.
[[nodiscard]] QueryPassResult* unwrap_pass(PyObject* capsule);

}  // namespace ferolin::binding::native
