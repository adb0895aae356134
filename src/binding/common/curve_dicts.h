// The curve dictionary: the Python form of a RiskCoverageRow.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "binding/common/py_ref.h"
#include "core/types.h"

namespace ferolin::binding {

// Converts a list (already checked to be a list) of curve dictionaries to
// rows in list order. Returns std::nullopt with the exception of the first
// element that fails (no note).
[[nodiscard]] std::optional<std::vector<RiskCoverageRow>> py_list_to_curve(PyObject* list);

// Returns a new list of curve dictionaries with the keys "threshold",
// "accepted", "total", "coverage", "errors", "risk" in that order, or an
// empty PyRef with an exception set.
[[nodiscard]] PyRef curve_to_py_list(std::span<const RiskCoverageRow> curve);

// Returns a new curve dictionary for one row, or an empty PyRef with an
// exception set.
[[nodiscard]] PyRef curve_row_to_dict(const RiskCoverageRow& row);

}  // namespace ferolin::binding
