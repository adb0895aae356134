// The decision dictionary: the Python form of an AnnotationDecision.
#pragma once

#include <span>

#include "binding/common/py_ref.h"
#include "core/types.h"

namespace ferolin::binding {

// Returns a new list of decision dictionaries with the keys "query_id",
// "candidate_id", "confidence", "accepted" (True/False), "threshold",
// "method" in that order, or an empty PyRef with an exception set.
[[nodiscard]] PyRef decisions_to_py_list(std::span<const AnnotationDecision> decisions);

}  // namespace ferolin::binding
