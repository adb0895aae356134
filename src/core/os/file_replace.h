// Replacing the whole text of a file so that a failure part-way (a full
// disk, a size limit, a killed process) never destroys what it held before,
// and a save lands exactly where open(2) would have written.
#pragma once

#include <string>
#include <string_view>

#include "core/error.h"
#include "core/os/file_content.h"
#include "core/os/interruption.h"
#include "core/os/temp_file.h"

namespace ferolin::os {

// Returns nothing once the file at `path` (free of NUL bytes) holds exactly
// `text`.
//
// A path that leads to nothing gets a new file (0666 less the umask),
// written whole before it is linked in where open(2) would create it (a
// dangling link's target). Otherwise the file is opened as open(2)
// would open it for writing, so every kernel check applies (access rights,
// protected symbolic links and regular files in sticky directories). A
// regular file found under a directory entry (through symbolic links,
// which stay links) is replaced by a fully written and flushed new file
// with its owner, permission bits, ACL and user.* extended attributes,
// renamed over that entry after checking that it still names the file.
//
// Written through the open file instead: a FIFO, device or other file that
// is not regular; a descriptor of this process named through /proc
// (/dev/stdout, /dev/fd/N), at its position; and, with the space reserved
// first and in one write (text padded with spaces, then cut to length), a
// regular file with several hard links, in a directory that admits no new
// file, with attributes this process cannot give, or that no directory
// entry names (a deleted file, a file in /proc).
//
// Returns Io with the system's text when the file cannot be created or
// opened for writing, and Json with the system's text when writing,
// flushing or renaming fails; nothing is left behind then.
//
// Opening a FIFO waits for its reader, and writing a pipe waits while it is
// full: `interrupted` is asked whenever a signal interrupts such a wait, and
// the error it returns ends the save with that error (what was written
// into the stream stays there; a file is left as it was).
[[nodiscard]] Result<void> replace_file_text(const std::string& path, std::string_view text,
                                             InterruptCheck interrupted = {});

// The same for content of any size. `temp` may already hold the content,
// written as a new file in the target's directory (OutputFile's spool): it
// then takes the target's place without being copied.
[[nodiscard]] Result<void> replace_file_content(const std::string& path,
                                                const FileContent& content, TempFile& temp,
                                                InterruptCheck interrupted = {});

}  // namespace ferolin::os
