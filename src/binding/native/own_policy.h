// Policy dicts on a confidence column: scoring_method "confidence_column"
// with "confidence_col" and "lower_is_better", which the module's own
// dict conversion refuses as an unknown method.
#pragma once

#include <optional>

#include "binding/common/py_ref.h"
#include "core/types.h"

namespace ferolin::binding::native {

// The dict to convert with dict_to_policy and the column it names: `dict`
// itself when its scoring_method is not "confidence_column", otherwise a
// copy with a stand-in method, and the column read from its
// "confidence_col" and "lower_is_better". nullopt with an exception set.
struct EightMethodDict {
  PyRef dict;
  std::optional<ConfidenceColumn> column;
};
[[nodiscard]] std::optional<EightMethodDict> eight_method_dict(PyObject* dict);

// Sets the keys of a policy on a confidence column in `dict` (the form of
// `policy`); false with an exception set.
[[nodiscard]] bool set_confidence_column_keys(PyObject* dict, const PolicyFile& policy);

}  // namespace ferolin::binding::native
