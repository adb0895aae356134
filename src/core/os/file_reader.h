// FileReader: reads a file front to back in fixed-size chunks without
// seeking, so that pipes, FIFOs and other unseekable files work too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/error.h"

namespace ferolin::os {

// Files are read 1 MiB at a time: as fast as 64 KiB in the tokenizer
// benchmark (benchmarks/README.md), with a sixteenth of the system calls. A
// pipe hands out at most what it holds, whatever the size asked for.
inline constexpr std::size_t kReadChunkSize = std::size_t{1} << 20;

class FileReader {
 public:
  // Returns a reader over the file at `path`, or a `Csv` error with the
  // system's text. A path holding a NUL byte is refused rather than cut
  // short at the NUL, which would name another file.
  [[nodiscard]] static Result<FileReader> open(std::string_view path,
                                               std::size_t chunk_size = kReadChunkSize);

  FileReader(FileReader&& other) noexcept;
  FileReader& operator=(FileReader&& other) noexcept;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader();

  // Returns the next bytes of the file (valid until the next call), an
  // empty view at the end, or a `Csv` error with the system's text.
  [[nodiscard]] Result<std::string_view> read();

  // Returns the file's size when it is a regular file.
  [[nodiscard]] std::optional<std::uint64_t> size_hint() const { return size_hint_; }

 private:
  FileReader(int fd, std::size_t chunk_size, std::optional<std::uint64_t> size_hint);

  int fd_ = -1;
  std::size_t chunk_size_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::optional<std::uint64_t> size_hint_;
};

}  // namespace ferolin::os
