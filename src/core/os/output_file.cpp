#include "core/os/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "core/os/file_replace.h"
#include "core/os/scratch_file.h"
#include "core/os/target_entry.h"
#include "core/os/write_in_place.h"

namespace ferolin::os {
namespace {

// A target that appears or vanishes between the checks of start() is
// looked at again, as often as replace_file_text tries.
constexpr int kMaxAttempts = 16;

FerolinError io_error(int errnum) { return FerolinError::io(os_error_text(errnum)); }

int duplicate(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

}  // namespace

Result<std::unique_ptr<OutputFile>> OutputFile::open(const std::string& path,
                                                     InterruptCheck interrupted) {
  std::unique_ptr<OutputFile> output(new OutputFile(path, std::move(interrupted)));
  Interruption interruption(output->interrupted_);
  if (const int error = output->start(interruption); error != 0) {
    return std::unexpected(interruption.stop() ? *interruption.stop() : io_error(error));
  }
  return output;
}

int OutputFile::spool_beside(int directory, const std::string& name, mode_t mode) {
  if (directory >= 0 && spool_.create(directory, name, mode) == 0) {
    spool_fd_.reset(duplicate(spool_.fd()));
    return spool_fd_.valid() ? 0 : errno;
  }
  // A directory that admits no new file leaves the target to be rewritten
  // in place at commit; the pieces wait in an unnamed file meanwhile.
  spool_fd_.reset(unnamed_scratch_file());
  return spool_fd_.valid() ? 0 : errno;
}

int OutputFile::start(Interruption& interruption) {
  int last_error = EAGAIN;
  for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
    if (target_is_missing(path_)) {
      const TargetEntry entry = locate_entry(path_, nullptr);
      if (entry.kind == EntryKind::Missing) {
        return spool_beside(entry.directory.get(), entry.name, 0666);
      }
    }
    // Opening as open() would lets the kernel apply its checks (access
    // rights, protected links) now, not after the whole output is made.
    UniqueFd reached(retry_interrupted(interruption, [&] {
      return ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    }));
    if (!reached.valid()) {
      // Removed meanwhile, or a folder on the way is missing: ENOENT stays
      // the answer unless a later attempt finds the way.
      if (errno == ENOENT) {
        last_error = ENOENT;
        continue;
      }
      return errno;
    }
    struct stat status{};
    if (::fstat(reached.get(), &status) != 0) return errno;
    if (!S_ISREG(status.st_mode)) {
      stream_ = std::move(reached);
      return 0;
    }
    const TargetEntry entry = locate_entry(path_, &status);
    if (entry.kind == EntryKind::Moved || entry.kind == EntryKind::Missing) continue;
    if (entry.kind == EntryKind::OwnDescriptor && writes_to(entry.descriptor, status)) {
      // At the caller's position, among its other output.
      stream_.reset(duplicate(entry.descriptor));
      return stream_.valid() ? 0 : errno;
    }
    const bool in_directory = entry.kind == EntryKind::DirectoryEntry;
    return spool_beside(in_directory ? entry.directory.get() : -1, entry.name, 0600);
  }
  return last_error;
}

Result<void> OutputFile::write(std::string_view bytes) {
  if (!is_open()) return std::unexpected(io_error(EBADF));
  Interruption interruption(interrupted_);
  const int fd = stream_.valid() ? stream_.get() : spool_fd_.get();
  if (const int error = write_stream(fd, bytes, interruption); error != 0) {
    abandon();
    return std::unexpected(interruption.stop() ? *interruption.stop() : io_error(error));
  }
  written_ += bytes.size();
  return {};
}

Result<void> OutputFile::commit() {
  if (!is_open()) return std::unexpected(io_error(EBADF));
  if (stream_.valid()) {
    stream_.reset();
    return {};
  }
  Result<void> placed = replace_file_content(path_, FileContent::of_file(spool_fd_.get(), written_),
                                             spool_, interrupted_);
  abandon();
  if (!placed) return std::unexpected(FerolinError::io(std::move(placed.error().detail)));
  return {};
}

void OutputFile::abandon() {
  stream_.reset();
  spool_.discard();
  spool_fd_.reset();
}

}  // namespace ferolin::os
