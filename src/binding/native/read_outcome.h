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
#include "core/error.h"
#include "core/types.h"

namespace ferolin::binding::native {

struct ReadReport {
  PyRef pass;                            // empty on failure
  const FerolinError* error = nullptr;   // the failure, if any
  std::span<const std::string> header;   // as far as read
  bool compressed = false;
  std::optional<std::string> sha256;     // of the file's bytes, when asked for
  std::uint64_t file_bytes = 0;
  std::optional<std::size_t> source;     // the shard an error concerns
  std::optional<std::vector<ScoringMethod>> scores;  // a merge's methods
};

// Returns a new ReadOutcome record, or nullptr with an exception set.
[[nodiscard]] PyObject* read_outcome(PyObject* module, ReadReport report);

}  // namespace ferolin::binding::native
