// unnamed_scratch_file: a file for bytes that wait to be placed elsewhere
// (an output whose folder admits no new file), reached by no name, so that
// nothing is left behind whatever becomes of the process.
#pragma once

namespace ferolin::os {

// Returns a new close-on-exec descriptor, open for reading and writing, of
// an empty file that no name reaches: in memory (memfd_create) or, on a
// kernel without that call (before Linux 3.17), on disk in $TMPDIR (else
// /tmp), created unnamed (O_TMPFILE) or unlinked at once. Returns -1 with
// errno set when none can be made.
[[nodiscard]] int unnamed_scratch_file();

}  // namespace ferolin::os
