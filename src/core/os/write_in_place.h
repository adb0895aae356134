// Writing through an open descriptor, for files that cannot be replaced by
// renaming: streams (pipes, FIFOs, devices, descriptors the caller handed
// over) and regular files shared by several names or kept by their
// directory or owner.
#pragma once

#include <string_view>

#include "core/os/file_content.h"
#include "core/os/interruption.h"

namespace ferolin::os {

// Returns 0 once all of `content` is written to `fd` from its current
// position, or the errno of the failure: EINTR when `interruption` stopped a
// write that a signal interrupted (a full pipe whose reader does not read).
[[nodiscard]] int write_stream(int fd, const FileContent& content, Interruption& interruption);

// The same, retrying every interrupted write.
[[nodiscard]] inline int write_stream(int fd, const FileContent& text) {
  Interruption retry_always;
  return write_stream(fd, text, retry_always);
}

// Returns 0 once the regular file open as `fd` holds exactly `text`, or the
// errno of the failure. The space the text needs beyond the old size is
// reserved first, so that a full disk or a size limit fails before a byte
// is overwritten. Then one write at offset 0 puts the text, padded with
// spaces to the old size (when that is at most 1 MiB more), one truncation
// cuts the padding, and the data is flushed: a process killed between the
// two steps leaves the new text followed by spaces, which a JSON reader
// reads as the new text. A write is cut only at a page boundary, so a kill
// leaves a text of up to one page (4 KiB) whole.
// Content spooled in a file is copied first and padded after, so a kill
// between the two leaves the new text followed by part of the old.
[[nodiscard]] int overwrite_in_place(int fd, const FileContent& text);

// Returns 0 once the data and metadata of `fd` are on disk, or the errno.
// A file that cannot be flushed at all (EINVAL, ENOTSUP) counts as flushed:
// no reason to refuse a save.
[[nodiscard]] int flush_to_disk(int fd);

}  // namespace ferolin::os
