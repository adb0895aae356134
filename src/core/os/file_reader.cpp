#include "core/os/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "core/os/path_text.h"

namespace ferolin::os {
namespace {

FerolinError system_error(int errnum) { return FerolinError::csv(os_error_text(errnum)); }

}  // namespace

Result<FileReader> FileReader::open(std::string_view path, std::size_t chunk_size) {
  const std::optional<std::string> terminated = path_for_system(path);
  if (!terminated) return std::unexpected(FerolinError::csv(std::string(kNulInPath)));
  int fd;
  do {
    fd = ::open(terminated->c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(system_error(errno));
  std::optional<std::uint64_t> size_hint;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    size_hint = static_cast<std::uint64_t>(info.st_size);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return FileReader(fd, chunk_size, size_hint);
}

FileReader::FileReader(int fd, std::size_t chunk_size, std::optional<std::uint64_t> size_hint)
    : fd_(fd),
      chunk_size_(chunk_size),
      buffer_(std::make_unique_for_overwrite<char[]>(chunk_size)),
      size_hint_(size_hint) {}

FileReader::FileReader(FileReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      chunk_size_(other.chunk_size_),
      buffer_(std::move(other.buffer_)),
      size_hint_(other.size_hint_) {}

FileReader& FileReader::operator=(FileReader&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    chunk_size_ = other.chunk_size_;
    buffer_ = std::move(other.buffer_);
    size_hint_ = other.size_hint_;
  }
  return *this;
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::string_view> FileReader::read() {
  ssize_t got;
  do {
    got = ::read(fd_, buffer_.get(), chunk_size_);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return std::unexpected(system_error(errno));
  return std::string_view(buffer_.get(), static_cast<std::size_t>(got));
}

}  // namespace ferolin::os
