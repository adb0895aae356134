// ParallelDeflate: inflates one deflate stream of a file on several threads
// by speculative decoding. The stream is cut into chunks of compressed
// bytes; a worker guesses where the first block of its chunk starts and
// decodes from there without the 32 KiB of output before it (references
// into that window come out as markers, see deflate_run.h). The bytes are
// then handed out in order: a chunk's markers are resolved with the window
// its predecessor left, once the predecessor's decoding is seen to end
// exactly where the guess began; where it does not, the chunk is decoded
// again from the known point on the reading thread. Memory stays at a fixed
// number of chunks in flight whatever the compression ratio (a run stops at
// a block boundary once it holds a bounded number of symbols).
//
// It never reports a fault of the data: anything it cannot vouch for (not
// deflate, cut short, a block too large, a read failure) leaves it in
// doubt, and the caller inflates sequentially instead, which names the
// fault as it always has.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "core/error.h"

namespace ferolin::tools {

// Reads the file's bytes at an offset: the count read (short only at the
// end of the file) or a failure.
using ReadAt = std::function<Result<std::size_t>(std::uint64_t offset, std::span<char> into)>;

struct ParallelDeflateOptions {
  unsigned threads = 2;                         // decoding workers
  std::size_t chunk_bytes = std::size_t{1} << 20;  // compressed bytes per chunk
};

class ParallelDeflate {
 public:
  // Returns a decoder of the deflate stream starting at byte `start` of
  // `file`, which lies wholly before byte `limit`, with its workers started
  // (signals blocked: they reach the caller's thread), or an `Io` error
  // when a thread cannot start.
  [[nodiscard]] static Result<ParallelDeflate> open(ReadAt file, std::uint64_t start,
                                                    std::uint64_t limit,
                                                    ParallelDeflateOptions options);

  ParallelDeflate(ParallelDeflate&&) noexcept;
  ParallelDeflate& operator=(ParallelDeflate&&) noexcept;
  ~ParallelDeflate();

  // Returns the number of bytes inflated into `out` (at least one while
  // the stream goes on, 0 after its final block), or nothing when in doubt:
  // the bytes handed out so far are correct, the rest must come from a
  // sequential inflate.
  [[nodiscard]] std::optional<std::size_t> read(std::span<char> out);

  // After read() gave 0: the byte after the stream's final block, and the
  // CRC-32 and length of everything inflated.
  [[nodiscard]] std::uint64_t end_byte() const;
  [[nodiscard]] std::uint32_t crc32() const;
  [[nodiscard]] std::uint64_t inflated_bytes() const;
  // Returns the file byte up to which the stream has been decoded: how far
  // the read has come.
  [[nodiscard]] std::uint64_t progress_byte() const;

  // The decoding state, defined where it is used.
  struct State;

 private:
  explicit ParallelDeflate(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace ferolin::tools
