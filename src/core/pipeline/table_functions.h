// The table-level operations behind the module functions: read a candidates
// table row by row into small per-query summaries (memory grows with the
// number of queries, not rows), then build the curve or the decisions.
#pragma once

#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/os/read_monitor.h"
#include "core/types.h"

namespace ferolin::pipeline {

// Returns the risk-coverage curve of the labelled queries of the table at
// `path`, scored by `method`, or the table's first failure, or the first
// error of `monitor`, which watches the read. The result is that of reading
// every candidate, grouping and scoring each query.
[[nodiscard]] Result<std::vector<RiskCoverageRow>> curve_from_table(std::string_view path,
                                                                    ScoringMethod method,
                                                                    os::ReadMonitor monitor = {});

// Returns one decision per query of the table at `path`, in ascending order
// of the query ids' bytes, or the table's first failure, or the first error
// of `monitor`.
[[nodiscard]] Result<std::vector<AnnotationDecision>> decide_table(std::string_view path,
                                                                   const PolicyFile& policy,
                                                                   os::ReadMonitor monitor = {});

}  // namespace ferolin::pipeline
