// The command's rule for infinite confidences. A curve gives +infinity a row
// of its own ahead of every finite confidence, while a policy accepts only
// finite confidences: evidence from the curve would count queries that no
// policy ever accepts. A pass for the command therefore holds an infinite
// confidence as no confidence at all, as the decisions treat it, and counts
// them per method so that the reports can say how many there were.
#pragma once

#include "binding/native/pass_type.h"

namespace ferolin::binding::native {

// Replaces every infinite confidence of `result` by none and stores how
// many each method had in result.infinite.
void set_aside_infinite(QueryPassResult& result);

}  // namespace ferolin::binding::native
