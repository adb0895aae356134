#include "core/os/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "core/os/syscalls.h"
#include "core/os/target_entry.h"

namespace ferolin::os {
namespace {

// A long file name is cut in the hidden name, which must stay a valid file
// name.
constexpr std::size_t kNamePrefixLength = 32;
constexpr int kMaxNameAttempts = 100;

std::string unique_suffix() {
  static std::atomic<std::uint64_t> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(static_cast<std::uint64_t>(ticks) % 1000000007U) + ".tmp";
}

// Gives the unnamed file `fd` the name `name` in `directory`. Linking by the
// descriptor itself needs CAP_DAC_READ_SEARCH; its /proc link works for
// everyone where /proc is mounted.
int link_unnamed(int fd, int directory, const std::string& name) {
  if (::linkat(fd, "", directory, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return errno;
  const std::string proc_link = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, proc_link.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return 0;
  }
  return errno;
}

}  // namespace

int TempFile::start(int directory, const std::string& target_name) {
  discard();
  prefix_ = "." + target_name.substr(0, kNamePrefixLength) + ".";
  directory_.reset(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
  if (!directory_.valid() || ::fstat(directory_.get(), &directory_status_) != 0) return errno;
  return 0;
}

int TempFile::create(int directory, const std::string& target_name, mode_t mode) {
  if (const int error = start(directory, target_name); error != 0) return error;
  mode_ = mode;
  fd_.reset(::openat(directory_.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
  // Any failure (no O_TMPFILE in this kernel or file system, or a directory
  // that admits no file) is left to the named way to confirm.
  return fd_.valid() ? 0 : open_named(mode);
}

int TempFile::create_named(int directory, const std::string& target_name, mode_t mode) {
  if (const int error = start(directory, target_name); error != 0) return error;
  return open_named(mode);
}

int TempFile::open_named(mode_t mode) {
  mode_ = mode;
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::string name = prefix_ + unique_suffix();
    fd_.reset(::openat(directory_.get(), name.c_str(),
                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd_.valid()) {
      hidden_name_ = std::move(name);
      return 0;
    }
    if (errno != EEXIST) break;
  }
  return errno;
}

bool TempFile::is_in(int directory) const {
  struct stat info{};
  return fd_.valid() && ::fstat(directory, &info) == 0 && same_file(info, directory_status_);
}

int TempFile::give_hidden_name() {
  if (!hidden_name_.empty()) return 0;
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    const std::string name = prefix_ + unique_suffix();
    const int error = link_unnamed(fd_.get(), directory_.get(), name);
    if (error == 0) hidden_name_ = name;
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

int TempFile::rename_over(const std::string& name) {
  if (const int error = give_hidden_name(); error != 0) return error;
  if (::renameat(directory_.get(), hidden_name_.c_str(), directory_.get(), name.c_str()) != 0) {
    return errno;
  }
  hidden_name_.clear();
  fd_.reset();
  return 0;
}

int TempFile::link_as_new(const std::string& name) {
  if (hidden_name_.empty()) {
    const int error = link_unnamed(fd_.get(), directory_.get(), name);
    if (error == 0) fd_.reset();
    return error;
  }
  // Neither way replaces a file that appeared meanwhile; a hard link is the
  // way for file systems that cannot rename so.
  if (rename_without_replacing(directory_.get(), hidden_name_.c_str(), directory_.get(),
                               name.c_str()) == 0) {
    hidden_name_.clear();
    fd_.reset();
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(directory_.get(), hidden_name_.c_str(), directory_.get(), name.c_str(), 0) != 0) {
    return errno;
  }
  discard();
  return 0;
}

void TempFile::sync_directory() const {
  const UniqueFd directory(::openat(directory_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.valid()) ::fsync(directory.get());
}

void TempFile::discard() {
  fd_.reset();
  if (!hidden_name_.empty()) ::unlinkat(directory_.get(), hidden_name_.c_str(), 0);
  hidden_name_.clear();
}

}  // namespace ferolin::os
