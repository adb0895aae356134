// Writing through an open descriptor, for files that cannot be replaced by
// renaming: streams (pipes, FIFOs, devices, descriptors the caller handed
// over) and regular files shared by several names or kept by their
// directory or owner.
#pragma once

#include <string_view>

namespace ferolin::os {

// Returns 0 once all of `text` is written to `fd` from its current position,
// or the errno of the failure.
[[nodiscard]] int write_stream(int fd, std::string_view text);

// Returns 0 once the regular file open as `fd` holds exactly `text`, or the
// errno of the failure. The space the text needs beyond the old size is
// reserved first, so that a full disk or a size limit fails before a byte
// is overwritten. Then one write at offset 0 puts the text, padded with
// spaces to the old size (when that is at most 1 MiB more), one truncation
// cuts the padding, and the data is flushed: a process killed between the
// two steps leaves the new text followed by spaces, which a JSON reader
// reads as the new text. A write is cut only at a page boundary, so a kill
// leaves a text of up to one page (4 KiB) whole.
[[nodiscard]] int overwrite_in_place(int fd, std::string_view text);

// Returns 0 once the data and metadata of `fd` are on disk, or the errno.
// A file that cannot be flushed at all (EINVAL, ENOTSUP) counts as flushed:
// no reason to refuse a save.
[[nodiscard]] int flush_to_disk(int fd);

}  // namespace ferolin::os
