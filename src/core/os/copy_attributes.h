// Giving a replacement file the attributes of the file it replaces, so that
// a save changes the text and nothing else.
#pragma once

#include <sys/stat.h>

namespace ferolin::os {

// Returns 0 once `to` carries the owner, group and permission bits
// (`from_status`) of the file open as `from`, its access ACL and its user.*
// extended attributes, and no access ACL of its own where `from` has none;
// or the errno of the first that cannot be given (the caller then writes
// the old file in place, which keeps them all).
[[nodiscard]] int copy_attributes(int from, const struct stat& from_status, int to);

}  // namespace ferolin::os
