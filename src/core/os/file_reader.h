// FileReader: reads a file front to back in fixed-size chunks without
// seeking, so that pipes, FIFOs and other unseekable files work too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/error.h"
#include "core/os/interruption.h"
#include "core/os/unique_fd.h"

namespace ferolin::os {

// Files are read 1 MiB at a time: as fast as 64 KiB in the tokenizer
// benchmark (benchmarks/README.md), with a sixteenth of the system calls. A
// pipe hands out at most what it holds, whatever the size asked for.
inline constexpr std::size_t kReadChunkSize = std::size_t{1} << 20;

class FileReader {
 public:
  // Returns a reader over the file at `path`, or a `Csv` error with the
  // system's text. A path holding a NUL byte is refused rather than cut
  // short at the NUL, which would name another file. `interrupted` is asked
  // whenever a signal interrupts opening the file (a FIFO waits for its
  // writer) or reading it; the error it returns is the failure.
  [[nodiscard]] static Result<FileReader> open(std::string_view path,
                                               InterruptCheck interrupted = {},
                                               std::size_t chunk_size = kReadChunkSize);

  // Returns the next bytes of the file (valid until the next call), an
  // empty view at the end, or a `Csv` error with the system's text, or the
  // error of the check that stopped an interrupted read.
  [[nodiscard]] Result<std::string_view> read();

  // Returns the file's size when it is a regular file.
  [[nodiscard]] std::optional<std::uint64_t> size_hint() const { return size_hint_; }

 private:
  FileReader(UniqueFd fd, std::size_t chunk_size, std::optional<std::uint64_t> size_hint,
             Interruption interruption);

  UniqueFd fd_;
  std::size_t chunk_size_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::optional<std::uint64_t> size_hint_;
  Interruption interruption_;
};

}  // namespace ferolin::os
