// The outcome of a read of a table, or of a merge of shards, as the
// ReadOutcome record that run_pass, run_arrow_pass, read_score_tables and
// merge_packed return.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "binding/common/py_ref.h"
#include "core/types.h"

namespace ferolin::binding::native {

struct ReadReport {
  PyRef pass;
  std::span<const std::string> header;
  bool compressed = false;
  std::optional<std::string> sha256;  // of the file's bytes, when asked for
  std::uint64_t file_bytes = 0;
  std::optional<std::vector<ScoringMethod>> scores;  // a merge's methods
};

// Returns a new ReadOutcome record, or nullptr with an exception set.
[[nodiscard]] PyObject* read_outcome(PyObject* module, ReadReport report);

}  // namespace ferolin::binding::native
