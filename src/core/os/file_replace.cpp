#include "core/os/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>

namespace ferolin::os {
namespace {

// As many hops as the kernel follows before ELOOP.
constexpr int kMaxLinkHops = 40;
// A long file name is cut in the temporary name, which must stay a valid
// file name.
constexpr std::size_t kNamePrefixLength = 32;
constexpr int kMaxTempAttempts = 100;

FerolinError io_error(int errnum) { return FerolinError::io(os_error_text(errnum)); }
FerolinError write_error(int errnum) { return FerolinError::json(os_error_text(errnum)); }

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string file_name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Returns the final target of `path` when it is a symbolic link, so that the
// target is replaced and the link stays a link; a dangling link gives the
// file that writing through it would create.
std::string resolve_links(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::string target(PATH_MAX + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return path;
    target.resize(static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : directory_of(path) + target;
  }
  return path;
}

// Returns 0 once all of `text` is written, or the errno of the failure.
int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// Truncates and writes the file itself: the way for FIFOs, devices, shared
// hard links and files that cannot be replaced.
Result<void> write_in_place(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return std::unexpected(io_error(errno));
  const int written = write_all(fd, text);
  const int closed = ::close(fd) == 0 ? 0 : errno;
  if (written != 0) return std::unexpected(write_error(written));
  if (closed != 0 && closed != EINTR) return std::unexpected(write_error(closed));
  return {};
}

// A temporary file beside the target, removed unless it was renamed.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { discard(); }

  // Returns 0 once a new file exists, or the errno of the failure.
  int create(const std::string& target, mode_t mode);
  // Returns true when the file carries the owner and permission bits of
  // `old`.
  bool take_attributes(const struct stat& old);
  // Returns 0 once `text` is written, flushed and the file closed, or the
  // errno of the failure.
  int fill(std::string_view text);
  // Returns 0 once the file has been renamed to `target`, or the errno.
  int rename_to(const std::string& target);
  void discard();

 private:
  std::string path_;
  int fd_ = -1;
};

std::string unique_suffix() {
  static std::atomic<std::uint64_t> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(static_cast<std::uint64_t>(ticks) % 1000000007U);
}

int TempFile::create(const std::string& target, mode_t mode) {
  const std::string prefix =
      directory_of(target) + "." + file_name_of(target).substr(0, kNamePrefixLength) + ".";
  for (int attempt = 0; attempt < kMaxTempAttempts; ++attempt) {
    path_ = prefix + unique_suffix() + ".tmp";
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ >= 0) return 0;
    if (errno != EEXIST) break;
  }
  const int error = errno;
  path_.clear();
  return error;
}

bool TempFile::take_attributes(const struct stat& old) {
  struct stat now {};
  if (::fstat(fd_, &now) != 0) return false;
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      ::fchown(fd_, old.st_uid, old.st_gid) != 0) {
    return false;
  }
  return ::fchmod(fd_, old.st_mode & 07777) == 0;
}

int TempFile::fill(std::string_view text) {
  if (const int error = write_all(fd_, text); error != 0) return error;
  // A file system that cannot flush at all (EINVAL, ENOTSUP) is no reason to
  // refuse a save that writing in place would have done.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != ENOTSUP) return errno;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

int TempFile::rename_to(const std::string& target) {
  if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
  path_.clear();
  return 0;
}

void TempFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

// Makes the rename itself durable. Best effort: the new text is in place
// whatever this reports.
void sync_directory(const std::string& target) {
  const std::string directory = directory_of(target);
  const int fd =
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Errors of creating the temporary file that say the directory admits no
// new file (or no such name) while the target itself may still be written.
bool directory_refuses(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == ENAMETOOLONG;
}

Result<void> replace_through_temp(const std::string& path, const std::string& target,
                                  const struct stat* old, std::string_view text) {
  TempFile temp;
  // A new file is created as writing it directly would create it.
  const int created = temp.create(target, old != nullptr ? 0600 : 0666);
  if (created != 0 && (old == nullptr || directory_refuses(created))) {
    return write_in_place(path, text);
  }
  if (created != 0) return std::unexpected(io_error(created));
  if (old != nullptr && !temp.take_attributes(*old)) {
    temp.discard();
    return write_in_place(path, text);
  }
  if (const int error = temp.fill(text); error != 0) return std::unexpected(write_error(error));
  if (const int error = temp.rename_to(target); error != 0) {
    temp.discard();
    // A file that is a mount point cannot be renamed over.
    if (error == EBUSY) return write_in_place(path, text);
    return std::unexpected(write_error(error));
  }
  sync_directory(target);
  return {};
}

}  // namespace

Result<void> replace_file_text(const std::string& path, std::string_view text) {
  const std::string target = resolve_links(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if ((!exists && errno != ENOENT) || file_name_of(target).empty()) {
    return write_in_place(path, text);
  }
  if (!exists) return replace_through_temp(path, target, nullptr, text);
  if (!S_ISREG(old.st_mode) || old.st_nlink != 1) return write_in_place(path, text);
  // Renaming could replace a file that this process may not write; such a
  // file keeps refusing.
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(io_error(errno));
  ::close(fd);
  return replace_through_temp(path, target, &old, text);
}

}  // namespace ferolin::os
