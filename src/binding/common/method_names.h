// Parsing the `score` and `method` arguments into methods, with ValueError for
// a name that matches none; the names live in core/argument_names.h.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "binding/common/py_ref.h"
#include "core/types.h"

namespace ferolin::binding {

// Returns the scoring method named by a `score` argument ("max-prob" or
// "max_prob", ...), or std::nullopt with ValueError "Unknown score method
// '<name>'. Valid: ..." set.
[[nodiscard]] std::optional<ScoringMethod> parse_score(std::string_view name);

// Returns the scoring methods named by the items of `list` (a list), or
// std::nullopt with TypeError or ValueError set.
[[nodiscard]] std::optional<std::vector<ScoringMethod>> parse_score_list(PyObject* list);

// Returns the calibration method named by a `method` argument ("empirical",
// "binomial" or "crc"), or std::nullopt with ValueError set.
[[nodiscard]] std::optional<CalibrationMethod> parse_calibration_method(std::string_view name);

}  // namespace ferolin::binding
