// Cutting a table's data into parts that threads read on their own. A part
// starts right after a line end, which is a record boundary unless the line
// end lies in a quoted field; the reader of the part before finds out which
// (it must end between two records exactly there) and the caller falls back
// to reading both as one where it does not.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/error.h"

namespace ferolin::table {

// Reads the bytes of a table at `offset` into `into`; returns how many were
// read, fewer than asked only at the end. Called from several threads.
using ReadAt = std::function<Result<std::size_t>(std::uint64_t offset, std::span<char> into)>;

// Where a part starts, and the byte before it.
struct PartStart {
  std::uint64_t byte = 0;
  char byte_before = 0;
};

// Returns the starts of the parts of the data in [data.byte, size): the
// first at data.byte, each later one at the first line start (after a LF,
// or a CR not followed by LF) at least `part_bytes` after the one before.
[[nodiscard]] Result<std::vector<PartStart>> split_at_line_starts(const ReadAt& read_at,
                                                                  PartStart data,
                                                                  std::uint64_t size,
                                                                  std::uint64_t part_bytes);

}  // namespace ferolin::table
