#include "core/os/positional_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/os/path_text.h"

namespace ferolin::os {

Result<PositionalFile> PositionalFile::open(std::string_view path) {
  const std::optional<std::string> terminated = path_for_system(path);
  if (!terminated) return std::unexpected(FerolinError::csv(std::string(kNulInPath)));
  UniqueFd fd(::open(terminated->c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::unexpected(FerolinError::csv(os_error_text(errno)));
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  return PositionalFile(std::move(fd));
}

Result<std::size_t> PositionalFile::read_at(std::uint64_t offset, std::span<char> into) const {
  std::size_t done = 0;
  while (done < into.size()) {
    const ssize_t got = ::pread(fd_.get(), into.data() + done, into.size() - done,
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::unexpected(FerolinError::csv(os_error_text(errno)));
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace ferolin::os
