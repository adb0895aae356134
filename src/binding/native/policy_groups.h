// The group fields of a policy in Python form, which the public module's
// policy dictionary leaves out: "group_col" (str or None) and
// "group_thresholds" (dict from label to threshold, or None).
#pragma once

#include <optional>

#include "binding/common/py_ref.h"
#include "core/types.h"

namespace ferolin::binding::native {

// Returns a new dict: the policy dictionary's seven keys, then
// "group_col" and "group_thresholds" (None where absent), or an empty PyRef
// with an exception set.
[[nodiscard]] PyRef grouped_policy_to_dict(const PolicyFile& policy);

// Returns the thresholds of a dict from str to float, or of None (absent),
// or nullopt with an exception set (noted with `parameter`).
[[nodiscard]] std::optional<std::optional<GroupThresholds>> group_thresholds_parameter(
    PyObject* object, const char* parameter);

// Converts a policy dictionary as dict_to_policy does, and reads its
// "group_col" and "group_thresholds" too when present and not None. Returns
// nullopt with an exception set.
[[nodiscard]] std::optional<PolicyFile> grouped_dict_to_policy(PyObject* dict);

}  // namespace ferolin::binding::native
