// Replacing the whole text of a file so that a failure part-way (a full
// disk, a size limit, a killed process) never destroys what it held before.
#pragma once

#include <string>
#include <string_view>

#include "core/error.h"

namespace ferolin::os {

// Returns nothing once the file at `path` (free of NUL bytes) holds exactly
// `text`. Symbolic links are followed to their final target, which is
// replaced by a fully written and flushed temporary file renamed over it,
// with the old file's permission bits and owner; a new file gets 0666 less
// the umask. A target that is not a regular file, has several hard links,
// cannot be given the old owner, or whose directory admits no new file is
// truncated and written in place instead. Returns Io when the file cannot be
// created or opened for writing, and Json with the system's text when
// writing, flushing or renaming fails; the temporary file is then removed.
[[nodiscard]] Result<void> replace_file_text(const std::string& path, std::string_view text);

}  // namespace ferolin::os
