// The policy dictionary: the Python form of a PolicyFile.
#pragma once

#include <optional>

#include "binding/common/py_ref.h"
#include "core/types.h"

namespace ferolin::binding {

// Returns a new dict with the keys "version", "scoring_method", "threshold",
// "target_error_rate", "calibration_method", "confidence_level" (None when
// absent), "created_by", in that order; the group fields are left out.
// Returns an empty PyRef with an exception set on failure.
[[nodiscard]] PyRef policy_to_dict(const PolicyFile& policy);

// Converts a dict (already checked to be a dict or subclass) to a policy,
// looking keys up straight in its storage in the order scoring_method,
// calibration_method, confidence_level, version, threshold,
// target_error_rate. `created_by` is always "ferolin" and the group fields
// absent. Returns std::nullopt with KeyError, TypeError or RuntimeError set
// (no note).
[[nodiscard]] std::optional<PolicyFile> dict_to_policy(PyObject* dict);

}  // namespace ferolin::binding
