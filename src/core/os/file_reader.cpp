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

// Returns the failure of a call that failed with errno `errnum`.
FerolinError failure(int errnum, const Interruption& interruption) {
  return interruption.stop() ? *interruption.stop() : system_error(errnum);
}

}  // namespace

Result<FileReader> FileReader::open(std::string_view path, InterruptCheck interrupted,
                                    std::size_t chunk_size) {
  const std::optional<std::string> terminated = path_for_system(path);
  if (!terminated) return std::unexpected(FerolinError::csv(std::string(kNulInPath)));
  Interruption interruption(std::move(interrupted));
  UniqueFd fd(retry_interrupted(interruption,
                                [&] { return ::open(terminated->c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!fd.valid()) return std::unexpected(failure(errno, interruption));
  std::optional<std::uint64_t> size_hint;
  struct stat info{};
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode)) {
    size_hint = static_cast<std::uint64_t>(info.st_size);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return FileReader(std::move(fd), chunk_size, size_hint, std::move(interruption));
}

FileReader::FileReader(UniqueFd fd, std::size_t chunk_size, std::optional<std::uint64_t> size_hint,
                       Interruption interruption)
    : fd_(std::move(fd)),
      chunk_size_(chunk_size),
      buffer_(std::make_unique_for_overwrite<char[]>(chunk_size)),
      size_hint_(size_hint),
      interruption_(std::move(interruption)) {}

Result<std::string_view> FileReader::read() {
  const ssize_t got = retry_interrupted(
      interruption_, [&] { return ::read(fd_.get(), buffer_.get(), chunk_size_); });
  if (got < 0) return std::unexpected(failure(errno, interruption_));
  return std::string_view(buffer_.get(), static_cast<std::size_t>(got));
}

}  // namespace ferolin::os
