#include "core/os/write_in_place.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <string>

namespace ferolin::os {
namespace {

// Beyond this much padding a much shorter text is written bare: building
// the padding would cost more than the rare crash it guards against.
constexpr std::uint64_t kMaxPadding = 1 << 20;
// Spooled content is copied through a buffer of this size.
constexpr std::uint64_t kCopyPiece = 1 << 20;

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

// Copies the spooled content to `fd` in pieces of kCopyPiece bytes, at
// `offset` as write_all does.
int copy_spool(int fd, const FileContent& content, off_t offset, Interruption& interruption) {
  std::string piece(std::min<std::uint64_t>(content.spool_size, kCopyPiece), '\0');
  for (std::uint64_t done = 0; done < content.spool_size;) {
    const std::size_t want = std::min<std::uint64_t>(piece.size(), content.spool_size - done);
    const ssize_t n = retry_interrupted(
        [&] { return ::pread(content.spool, piece.data(), want, static_cast<off_t>(done)); });
    if (n < 0) return errno;
    if (n == 0) return EIO;  // the spool is shorter than what was written into it
    const std::string_view read(piece.data(), static_cast<std::size_t>(n));
    if (const int error = write_all(fd, read, offset, interruption); error != 0) return error;
    done += static_cast<std::uint64_t>(n);
    if (offset >= 0) offset += n;
  }
  return 0;
}

int write_content(int fd, const FileContent& content, off_t offset, Interruption& interruption) {
  if (content.spool >= 0) return copy_spool(fd, content, offset, interruption);
  return write_all(fd, content.text, offset, interruption);
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

int write_stream(int fd, const FileContent& content, Interruption& interruption) {
  return write_content(fd, content, -1, interruption);
}

int overwrite_in_place(int fd, const FileContent& content) {
  struct stat info{};
  if (::fstat(fd, &info) != 0) return errno;
  const auto old_size = static_cast<std::uint64_t>(info.st_size);
  const std::uint64_t size = content.size();
  if (const int error = reserve(fd, old_size, size); error != 0) return error;
  std::string padding;
  if (old_size > size && old_size - size <= kMaxPadding) padding.assign(old_size - size, ' ');
  Interruption retry_always;
  if (content.spool < 0 && !padding.empty()) {
    // A text in memory goes with its padding in one write.
    padding.insert(0, content.text);
    if (const int error = write_all(fd, padding, 0, retry_always); error != 0) return error;
  } else {
    if (const int error = write_content(fd, content, 0, retry_always); error != 0) return error;
    if (const int error = write_all(fd, padding, static_cast<off_t>(size), retry_always);
        error != 0) {
      return error;
    }
  }
  if (old_size > size) {
    if (const int error = truncate_to(fd, size); error != 0) return error;
  }
  if (::fdatasync(fd) != 0 && !cannot_flush(errno)) return errno;
  return 0;
}

int flush_to_disk(int fd) {
  if (::fsync(fd) != 0 && !cannot_flush(errno)) return errno;
  return 0;
}

}  // namespace ferolin::os
