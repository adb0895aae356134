// OutputFile: a file written piece by piece as results are produced (a
// table of millions of rows never has to fit in memory), that takes the
// place of its target by the rules of replace_file_text only when
// committed. Until then the pieces go to an unnamed file in the target's
// directory, so a process killed while writing leaves nothing behind and
// the old file untouched. Streams (pipes, FIFOs, devices, the caller's own
// descriptors such as /dev/stdout) are written as the pieces come.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/error.h"
#include "core/os/interruption.h"
#include "core/os/temp_file.h"
#include "core/os/unique_fd.h"

namespace ferolin::os {

class OutputFile {
 public:
  // Returns an output for `path` (free of NUL bytes), or Io with the
  // system's text when it cannot be opened for writing. Opening a FIFO
  // waits for its reader; `interrupted` is asked as replace_file_text asks
  // it, and for every write.
  [[nodiscard]] static Result<std::unique_ptr<OutputFile>> open(const std::string& path,
                                                                InterruptCheck interrupted = {});

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { abandon(); }

  // Returns nothing once `bytes` follow what was written before, or Io with
  // the system's text (a full disk, a size limit, a reader gone away).
  [[nodiscard]] Result<void> write(std::string_view bytes);
  // Returns nothing once the target holds exactly what was written, or the
  // error of the replacement; the output is closed either way.
  [[nodiscard]] Result<void> commit();
  // Drops what was written: a file target keeps its old content.
  void abandon();

  [[nodiscard]] bool is_open() const { return stream_.valid() || spool_fd_.valid(); }

 private:
  OutputFile(std::string path, InterruptCheck interrupted)
      : path_(std::move(path)), interrupted_(std::move(interrupted)) {}

  // Returns 0 once the output is set to write the file that opening the
  // path reaches, or the errno of the failure.
  [[nodiscard]] int start(Interruption& interruption);
  // Returns 0 once the pieces go to a new file in `directory` (or, where
  // none can be made there, to an unnamed scratch file), or the errno of
  // the failure.
  [[nodiscard]] int spool_beside(int directory, const std::string& name, mode_t mode);

  std::string path_;
  InterruptCheck interrupted_;
  UniqueFd stream_;    // written as the pieces come
  TempFile spool_;     // or the new file, placed at commit
  UniqueFd spool_fd_;  // its content, read back at commit (a scratch file without spool_)
  std::uint64_t written_ = 0;
};

}  // namespace ferolin::os
