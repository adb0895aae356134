// Finding the directory entry of the file that open(2) reached for a path,
// so that a new file renamed over that entry replaces exactly that file.
// The kernel has already applied its checks when it opened the file (access
// rights, protected symbolic links and files in sticky directories); this
// only locates the file, following the path hop by hop through directories
// that the kernel opens, and confirms by device and inode number.
#pragma once

#include <sys/stat.h>

#include <string>

#include "core/os/unique_fd.h"

namespace ferolin::os {

enum class EntryKind {
  // `directory` and `name` name the reached file.
  DirectoryEntry,
  // Nothing is there yet: `directory` and `name` say where opening the path
  // with O_CREAT would create the file (a dangling link's target).
  Missing,
  // The path is a link in /proc/self/fd to this process's own `descriptor`
  // (/dev/stdout, /dev/fd/N): a stream the caller handed over.
  OwnDescriptor,
  // The path ends in /proc (another process's descriptor, a kernel file):
  // no directory entry may be renamed over.
  ProcFile,
  // The path no longer leads to the reached file: it was replaced or removed
  // meanwhile, or a link changed.
  Moved,
};

struct TargetEntry {
  EntryKind kind = EntryKind::Moved;
  UniqueFd directory;   // DirectoryEntry, Missing: opened with O_PATH
  std::string name;     // DirectoryEntry, Missing: the name inside `directory`
  int descriptor = -1;  // OwnDescriptor
};

// Returns true when `a` and `b` describe the same file.
[[nodiscard]] bool same_file(const struct stat& a, const struct stat& b);

// Returns true when `path` leads to nothing. stat() follows links with the
// same checks as open(), so a link it may not follow is not "nothing".
[[nodiscard]] bool target_is_missing(const std::string& path);

// Returns true when this process's descriptor `own` is open for writing on
// the file of `status`.
[[nodiscard]] bool writes_to(int own, const struct stat& status);

// Returns where the file `reached` (the status of what opening `path` gave)
// lives, or with `reached` null where the missing file would be created.
// Symbolic links on the way are followed to the entry they name, so that a
// link stays a link and its target is replaced.
[[nodiscard]] TargetEntry locate_entry(const std::string& path, const struct stat* reached);

// Returns true when `name` in `directory` still names the file `reached`.
[[nodiscard]] bool entry_names(int directory, const std::string& name, const struct stat& reached);

}  // namespace ferolin::os
