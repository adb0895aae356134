// ParallelGzipInflater: inflates a gzip file that can be read at any offset
// (a regular file) on several threads where it can. A file of one member,
// the commonest, is inflated by ParallelDeflate and its trailer (CRC-32 and
// length) checked; anything else (several members, bytes after the member,
// a header it does not know, a fault, whatever ParallelDeflate is in doubt
// about) goes to the sequential GzipInflater from the file's start, which
// skips the bytes already handed out: every fault is then named exactly as
// the sequential inflate names it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/error.h"
#include "input/gzip_inflater.h"
#include "input/parallel_deflate.h"

namespace ferolin::tools {

class ParallelGzipInflater {
 public:
  // Returns an inflater of the `file_size` bytes of `file`, decoding as
  // `options` say on threads of its own; `progress` follows the file bytes read
  // (all of them once the end has been given). Fails as GzipInflater::open
  // does (without its threads it inflates sequentially).
  [[nodiscard]] static Result<ParallelGzipInflater> open(
      ReadAt file, std::uint64_t file_size, ParallelDeflateOptions options,
      std::shared_ptr<std::atomic<std::uint64_t>> progress, Inflater kind = fastest_inflater());

  // Returns the number of bytes inflated into `out` (0 after the end), or
  // the errors GzipInflater::read gives.
  [[nodiscard]] Result<std::size_t> read(std::span<char> out);

 private:
  ParallelGzipInflater(ReadAt file, std::uint64_t file_size,
                       std::shared_ptr<std::atomic<std::uint64_t>> progress, Inflater kind);

  Result<std::size_t> read_parallel(std::span<char> out);
  Result<std::size_t> read_sequential(std::span<char> out);
  [[nodiscard]] bool trailer_matches() const;
  Result<void> start_sequential();

  // Shared with the sequential inflater's source: stays put when the
  // inflater moves.
  struct Source {
    ReadAt file;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    std::string piece;
  };
  std::unique_ptr<Source> source_;
  std::shared_ptr<std::atomic<std::uint64_t>> progress_;
  Inflater kind_;
  std::optional<ParallelDeflate> parallel_;
  std::optional<GzipInflater> sequential_;
  std::uint64_t handed_ = 0;  // bytes handed out
  std::uint64_t skip_ = 0;    // bytes the sequential inflate has yet to skip
};

}  // namespace ferolin::tools
