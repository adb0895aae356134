#include "core/os/write_in_place.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace ferolin::os {
namespace {

// Beyond this much padding a much shorter text is written bare: building
// the padding would cost more than the rare crash it guards against.
constexpr std::uint64_t kMaxPadding = 1 << 20;

// Writes at `offset`, or at the current position when `offset` is negative.
int write_all(int fd, std::string_view text, off_t offset, Interruption& interruption) {
  while (!text.empty()) {
    const ssize_t n = retry_interrupted(interruption, [&] {
      return offset < 0 ? ::write(fd, text.data(), text.size())
                        : ::pwrite(fd, text.data(), text.size(), offset);
    });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    text.remove_prefix(static_cast<std::size_t>(n));
    if (offset >= 0) offset += n;
  }
  return 0;
}

// Claims the blocks of a file growing from `old_size` to `new_size` without
// changing its size, so that writing them cannot run out of space half-way.
int reserve(int fd, std::uint64_t old_size, std::uint64_t new_size) {
  if (new_size <= old_size) return 0;
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      new_size > limit.rlim_cur) {
    return EFBIG;
  }
  const int result = retry_interrupted(
      [&] { return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(new_size)); });
  // A file system that cannot reserve leaves the write to find out.
  if (result != 0 && errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) return errno;
  return 0;
}

int truncate_to(int fd, std::uint64_t size) {
  const int result = retry_interrupted([&] { return ::ftruncate(fd, static_cast<off_t>(size)); });
  return result == 0 ? 0 : errno;
}

bool cannot_flush(int error) { return error == EINVAL || error == ENOTSUP; }

}  // namespace

int write_stream(int fd, std::string_view text, Interruption& interruption) {
  return write_all(fd, text, -1, interruption);
}

int overwrite_in_place(int fd, std::string_view text) {
  struct stat info{};
  if (::fstat(fd, &info) != 0) return errno;
  const auto old_size = static_cast<std::uint64_t>(info.st_size);
  if (const int error = reserve(fd, old_size, text.size()); error != 0) return error;
  std::string padded;
  if (old_size > text.size() && old_size - text.size() <= kMaxPadding) {
    padded.reserve(old_size);
    padded.assign(text);
    padded.resize(old_size, ' ');
  }
  Interruption retry_always;
  if (const int error = write_all(fd, padded.empty() ? text : padded, 0, retry_always);
      error != 0) {
    return error;
  }
  if (old_size > text.size()) {
    if (const int error = truncate_to(fd, text.size()); error != 0) return error;
  }
  if (::fdatasync(fd) != 0 && !cannot_flush(errno)) return errno;
  return 0;
}

int flush_to_disk(int fd) {
  if (::fsync(fd) != 0 && !cannot_flush(errno)) return errno;
  return 0;
}

}  // namespace ferolin::os
