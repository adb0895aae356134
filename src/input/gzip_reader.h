// GzipReader: inflates a gzip stream as it is read, chunk by chunk, so that a
// compressed table of any size streams through the table reader without
// ever being decompressed to disk or held whole. With more than one reading
// thread the inflating runs on a thread of its own, ahead of the caller by a
// fixed number of buffers, so that inflating and parsing overlap; the
// compressed bytes are still read on the caller's thread, where a signal
// interrupts a wait and the caller's interrupt check may run.
#pragma once

#include <memory>
#include <string_view>

#include "core/error.h"
#include "core/move_only_function.h"
#include "input/gzip_inflater.h"

namespace ferolin::tools {

class GzipReader {
 public:
  // Returns a reader that inflates the bytes `compressed` hands out (always
  // called on the caller's thread), on a thread of its own when `threads`
  // is above 1, or an `Io` error when the inflater or its thread cannot
  // start.
  [[nodiscard]] static Result<GzipReader> open(ByteReader compressed, unsigned threads,
                                               Inflater kind = fastest_inflater());

  // Inflates into the buffer given: the count (0 at the end) or a failure.
  using Inflate = MoveOnlyFunction<Result<std::size_t>(std::span<char>)>;

  // Returns a reader that runs `inflate`, which reads its compressed bytes
  // itself, on a thread of its own, or an `Io` error when the thread cannot
  // start.
  [[nodiscard]] static Result<GzipReader> open_inflating(Inflate inflate);

  GzipReader(GzipReader&&) noexcept;
  GzipReader& operator=(GzipReader&&) noexcept;
  ~GzipReader();

  // Returns the next decompressed bytes (valid until the next call), an
  // empty view at the end of the last member, or an `Io` error for data that
  // is not gzip, is corrupt or ends before its last member does, or the
  // failure of `compressed`, after every byte inflated before it.
  [[nodiscard]] Result<std::string_view> read();

  // The reading state, defined where it is used.
  struct State;

 private:
  explicit GzipReader(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace ferolin::tools
