#include "core/os/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/os/copy_attributes.h"
#include "core/os/target_entry.h"
#include "core/os/temp_file.h"
#include "core/os/unique_fd.h"
#include "core/os/write_in_place.h"

namespace ferolin::os {
namespace {

// Each attempt after the first reuses the written temporary file, so it
// costs a few system calls; only a file replaced again and again under a
// save's hands needs more than one.
constexpr int kMaxAttempts = 16;

FerolinError io_error(const std::string& path, int errnum) {
  FerolinError error = FerolinError::io(os_error_text(errnum));
  error.path = path;
  return error;
}
FerolinError write_error(const std::string& path, int errnum) {
  return FerolinError::write(path, os_error_text(errnum));
}

// What one attempt to put the text in place came to.
struct Outcome {
  enum class Kind {
    Done,
    Failed,   // `error` says why
    Moved,    // the file changed under the attempt: try again
    InPlace,  // the file must be written through its descriptor
  } kind;
  int error = 0;
};

Outcome done_or_failed(int error) {
  return error == 0 ? Outcome{Outcome::Kind::Done} : Outcome{Outcome::Kind::Failed, error};
}

// Writes `text` into `temp` in `directory`, unless it already holds it. A
// new file (mode 0666) must have been made with that mode: one made for a
// replacement (0600) gets its attributes from the file it replaces.
Outcome fill(TempFile& temp, int directory, const std::string& name, mode_t mode,
             const FileContent& text) {
  if (temp.is_in(directory) && (mode != 0666 || temp.mode() == mode)) {
    return {Outcome::Kind::Done};
  }
  if (const int error = temp.create(directory, name, mode); error != 0) {
    return {Outcome::Kind::InPlace, error};
  }
  return done_or_failed(write_stream(temp.fd(), text));
}

// A path that leads to nothing gets a file made whole before it is linked
// in where open() would create it, so that no reader ever sees it empty or
// partial. Moved: the name was taken meanwhile, or cannot be made this way;
// open() then decides.
Outcome create_new(const std::string& path, const FileContent& text, TempFile& temp) {
  const TargetEntry entry = locate_entry(path, nullptr);
  if (entry.kind != EntryKind::Missing) return {Outcome::Kind::Moved};
  const Outcome filled = fill(temp, entry.directory.get(), entry.name, 0666, text);
  if (filled.kind != Outcome::Kind::Done) {
    return filled.kind == Outcome::Kind::Failed ? filled : Outcome{Outcome::Kind::Moved};
  }
  if (const int error = flush_to_disk(temp.fd()); error != 0) return {Outcome::Kind::Failed, error};
  if (temp.link_as_new(entry.name) != 0) return {Outcome::Kind::Moved};
  temp.sync_directory();
  return {Outcome::Kind::Done};
}

// Renames a new file with the old one's attributes over the entry that
// names the reached file, checked again just before the rename.
Outcome replace_entry(const TargetEntry& entry, int reached, const struct stat& status,
                      const FileContent& text, TempFile& temp) {
  const int directory = entry.directory.get();
  // A directory that admits no new file (no write permission, no inode
  // left) leaves the old file to be written in place.
  const Outcome filled = fill(temp, directory, entry.name, 0600, text);
  if (filled.kind != Outcome::Kind::Done) return filled;
  // An owner, a group or an attribute this process cannot give (another
  // user's file) is kept by writing in place.
  if (copy_attributes(reached, status, temp.fd()) != 0) {
    temp.discard();
    return {Outcome::Kind::InPlace};
  }
  if (const int error = flush_to_disk(temp.fd()); error != 0) return {Outcome::Kind::Failed, error};
  if (!entry_names(directory, entry.name, status)) return {Outcome::Kind::Moved};
  // The hidden name that a rename needs comes last: a process killed after
  // it leaves the file behind.
  if (const int error = temp.give_hidden_name(); error != 0) {
    temp.discard();
    return {Outcome::Kind::InPlace};
  }
  const int error = temp.rename_over(entry.name);
  if (error == 0) {
    temp.sync_directory();
    return {Outcome::Kind::Done};
  }
  temp.discard();
  // A mount point cannot be renamed over; in a sticky directory only the
  // owner of a file may replace it.
  if (error == EBUSY || error == EPERM || error == EACCES) return {Outcome::Kind::InPlace};
  return {Outcome::Kind::Failed, error};
}

// Puts `text` into the regular file `reached` that opening `path` gave.
Outcome place(const std::string& path, int reached, const struct stat& status,
              const FileContent& text, TempFile& temp, Interruption& interruption) {
  const TargetEntry entry = locate_entry(path, &status);
  switch (entry.kind) {
    case EntryKind::OwnDescriptor:
      // Written through the caller's descriptor, the text lands at its
      // position among the caller's other output (/dev/stdout redirected to
      // a file); otherwise the file is rewritten in place.
      if (!writes_to(entry.descriptor, status)) return {Outcome::Kind::InPlace};
      return done_or_failed(write_stream(entry.descriptor, text, interruption));
    case EntryKind::ProcFile:
      return {Outcome::Kind::InPlace};
    case EntryKind::Moved:
    case EntryKind::Missing:
      return {Outcome::Kind::Moved};
    case EntryKind::DirectoryEntry:
      break;
  }
  // Renaming would part the names of a file with several hard links.
  if (status.st_nlink > 1) return {Outcome::Kind::InPlace};
  return replace_entry(entry, reached, status, text, temp);
}

}  // namespace

Result<void> replace_file_text(const std::string& path, std::string_view text,
                               InterruptCheck interrupted) {
  TempFile temp;
  return replace_file_content(path, text, temp, std::move(interrupted));
}

Result<void> replace_file_content(const std::string& path, const FileContent& text,
                                  TempFile& temp, InterruptCheck interrupted) {
  Interruption interruption(std::move(interrupted));
  // A call that the check stopped fails with the check's error.
  const auto failed = [&interruption](FerolinError error) {
    return std::unexpected(interruption.stop() ? *interruption.stop() : std::move(error));
  };
  for (int attempt = 1;; ++attempt) {
    if (target_is_missing(path)) {
      const Outcome created = create_new(path, text, temp);
      if (created.kind == Outcome::Kind::Done) return {};
      if (created.kind == Outcome::Kind::Failed) {
        return std::unexpected(write_error(path, created.error));
      }
    }
    // Opening as open() would lets the kernel apply every check: access
    // rights, links planted in sticky directories, other users' files there.
    const UniqueFd reached(retry_interrupted(interruption, [&] {
      return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    }));
    if (!reached.valid()) return failed(io_error(path, errno));
    struct stat status{};
    if (::fstat(reached.get(), &status) != 0) return std::unexpected(write_error(path, errno));
    Outcome outcome{Outcome::Kind::InPlace};
    if (S_ISREG(status.st_mode)) {
      outcome = place(path, reached.get(), status, text, temp, interruption);
    }
    // After many changes under its hands the file open() reached takes the
    // text itself.
    if (outcome.kind == Outcome::Kind::Moved && attempt == kMaxAttempts) {
      outcome = {Outcome::Kind::InPlace};
    }
    if (outcome.kind == Outcome::Kind::InPlace) {
      outcome =
          done_or_failed(S_ISREG(status.st_mode) ? overwrite_in_place(reached.get(), text)
                                                 : write_stream(reached.get(), text, interruption));
    }
    if (outcome.kind == Outcome::Kind::Done) return {};
    if (outcome.kind == Outcome::Kind::Failed) return failed(write_error(path, outcome.error));
  }
}

}  // namespace ferolin::os
