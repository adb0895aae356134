// PositionalFile: a regular file read at any offset, by several threads at
// once (pread shares no file position).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/error.h"
#include "core/os/unique_fd.h"

namespace ferolin::os {

class PositionalFile {
 public:
  // Returns the file at `path` opened for reading, or a `Csv` error with
  // the system's text.
  [[nodiscard]] static Result<PositionalFile> open(std::string_view path);

  // Returns the number of bytes read at `offset` into `into`: fewer than
  // asked only at the end of the file; or a `Csv` error with the system's text.
  [[nodiscard]] Result<std::size_t> read_at(std::uint64_t offset, std::span<char> into) const;

 private:
  explicit PositionalFile(UniqueFd fd) : fd_(std::move(fd)) {}

  UniqueFd fd_;
};

}  // namespace ferolin::os
