#include "core/os/copy_attributes.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferolin::os {
namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";
// Other system.*, security.* and trusted.* attributes belong to the file
// system, the security module or the administrator, not to the file's text.
constexpr std::string_view kUserPrefix = "user.";
// An attribute can grow between asking for its size and reading it.
constexpr int kMaxSizeAttempts = 8;

bool carried(std::string_view name) { return name == kAccessAcl || name.starts_with(kUserPrefix); }

// Calls `get(buffer, size)` (flistxattr or fgetxattr) until the buffer is
// large enough; returns the bytes, or std::nullopt with errno set.
template <typename Get>
std::optional<std::string> read_sized(Get get) {
  for (int attempt = 0; attempt < kMaxSizeAttempts; ++attempt) {
    const ssize_t size = get(nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    const ssize_t got = get(bytes.data(), bytes.size());
    if (got >= 0) {
      bytes.resize(static_cast<std::size_t>(got));
      return bytes;
    }
    if (errno != ERANGE) return std::nullopt;
  }
  errno = ERANGE;
  return std::nullopt;
}

// Returns the names of the attributes of `fd` that a replacement carries.
std::optional<std::vector<std::string>> carried_names(int fd) {
  const std::optional<std::string> list =
      read_sized([fd](char* buffer, std::size_t size) { return ::flistxattr(fd, buffer, size); });
  if (!list) {
    // A file system without extended attributes has none to carry.
    if (errno == ENOTSUP) return std::vector<std::string>{};
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (std::size_t start = 0; start < list->size();) {
    const std::size_t end = list->find('\0', start);
    const std::string_view name(list->data() + start,
                                (end == std::string::npos ? list->size() : end) - start);
    if (carried(name)) names.emplace_back(name);
    start = end == std::string::npos ? list->size() : end + 1;
  }
  return names;
}

int copy_extended_attributes(int from, int to) {
  const std::optional<std::vector<std::string>> names = carried_names(from);
  if (!names) return errno;
  bool has_acl = false;
  for (const std::string& name : *names) {
    const std::optional<std::string> value = read_sized([&](char* buffer, std::size_t size) {
      return ::fgetxattr(from, name.c_str(), buffer, size);
    });
    if (!value && errno == ENODATA) continue;  // removed meanwhile
    if (!value) return errno;
    if (::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0) return errno;
    has_acl = has_acl || name == kAccessAcl;
  }
  // A new file takes an ACL from its directory's default ACL.
  if (!has_acl && ::fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
    return errno;
  }
  return 0;
}

}  // namespace

int copy_attributes(int from, const struct stat& from_status, int to) {
  struct stat now{};
  if (::fstat(to, &now) != 0) return errno;
  // Changing the owner clears the set-user-ID and set-group-ID bits, so it
  // comes first and the permission bits last.
  if ((now.st_uid != from_status.st_uid || now.st_gid != from_status.st_gid) &&
      ::fchown(to, from_status.st_uid, from_status.st_gid) != 0) {
    return errno;
  }
  if (const int error = copy_extended_attributes(from, to); error != 0) return error;
  if (::fchmod(to, from_status.st_mode & 07777) != 0) return errno;
  return 0;
}

}  // namespace ferolin::os
