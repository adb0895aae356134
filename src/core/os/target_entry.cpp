#include "core/os/target_entry.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <optional>

namespace ferolin::os {
namespace {

// As many hops as the kernel follows before ELOOP.
constexpr int kMaxLinkHops = 40;

bool on_proc(int directory) {
  struct statfs info{};
  return ::fstatfs(directory, &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

// Returns N when `name` in `directory` is the link /proc/self/fd/N (or the
// same of this thread) to a descriptor of this process.
std::optional<int> own_descriptor(int directory, const std::string& name) {
  struct stat found{};
  if (::fstat(directory, &found) != 0) return std::nullopt;
  bool ours = false;
  for (const char* own : {"/proc/self/fd", "/proc/thread-self/fd"}) {
    struct stat info{};
    ours = ours || (::stat(own, &info) == 0 && same_file(info, found));
  }
  int descriptor = -1;
  const char* end = name.data() + name.size();
  const auto [stop, error] = std::from_chars(name.data(), end, descriptor);
  if (!ours || error != std::errc() || stop != end || descriptor < 0) return std::nullopt;
  return descriptor;
}

std::optional<std::string> read_link(int directory, const std::string& name) {
  std::string target(PATH_MAX + 1, '\0');
  const ssize_t n = ::readlinkat(directory, name.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(n));
  return target;
}

struct PathParts {
  std::string directory;  // "." for a bare name, "/" for a name in the root
  std::string name;       // empty when the path ends in a slash
};

// Returns `path` cut at its last slash.
PathParts split_last_component(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

TargetEntry entry_of(EntryKind kind) {
  TargetEntry entry;
  entry.kind = kind;
  return entry;
}

}  // namespace

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool target_is_missing(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
}

bool writes_to(int own, const struct stat& status) {
  const int flags = ::fcntl(own, F_GETFL);
  struct stat info{};
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && ::fstat(own, &info) == 0 &&
         same_file(info, status);
}

TargetEntry locate_entry(const std::string& path, const struct stat* reached) {
  UniqueFd base;  // the directory a relative link text starts from
  std::string rest = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    PathParts parts = split_last_component(rest);
    if (parts.name.empty()) return entry_of(EntryKind::Moved);
    UniqueFd directory(::openat(base.valid() ? base.get() : AT_FDCWD, parts.directory.c_str(),
                                O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) return entry_of(EntryKind::Moved);
    if (on_proc(directory.get())) {
      const std::optional<int> own = own_descriptor(directory.get(), parts.name);
      if (!own) return entry_of(EntryKind::ProcFile);
      TargetEntry entry = entry_of(EntryKind::OwnDescriptor);
      entry.descriptor = *own;
      return entry;
    }
    struct stat found{};
    if (::fstatat(directory.get(), parts.name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || reached != nullptr) return entry_of(EntryKind::Moved);
      TargetEntry entry = entry_of(EntryKind::Missing);
      entry.directory = std::move(directory);
      entry.name = std::move(parts.name);
      return entry;
    }
    if (S_ISLNK(found.st_mode)) {
      std::optional<std::string> target = read_link(directory.get(), parts.name);
      if (!target) return entry_of(EntryKind::Moved);
      rest = std::move(*target);
      base = std::move(directory);
      continue;
    }
    if (reached == nullptr || !same_file(found, *reached)) return entry_of(EntryKind::Moved);
    TargetEntry entry = entry_of(EntryKind::DirectoryEntry);
    entry.directory = std::move(directory);
    entry.name = std::move(parts.name);
    return entry;
  }
  return entry_of(EntryKind::Moved);
}

bool entry_names(int directory, const std::string& name, const struct stat& reached) {
  struct stat found{};
  return ::fstatat(directory, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0 &&
         same_file(found, reached);
}

}  // namespace ferolin::os
