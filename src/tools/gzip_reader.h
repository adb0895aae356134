// GzipReader: inflates a gzip stream as it is read, chunk by chunk, so that a
// compressed table of any size streams through the table reader without
// ever being decompressed to disk or held whole. Several gzip members back
// to back (as `cat a.gz b.gz` or parallel compressors write) read as one.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/error.h"
#include "core/move_only_function.h"

struct z_stream_s;

namespace ferolin::tools {

// Hands out the next compressed bytes (valid until the next call), an empty
// view at the end, or a failure.
using ByteReader = MoveOnlyFunction<Result<std::string_view>()>;

class GzipReader {
 public:
  // Returns a reader that inflates the bytes `compressed` hands out, or an
  // `Io` error when zlib cannot start.
  [[nodiscard]] static Result<GzipReader> open(ByteReader compressed);

  GzipReader(GzipReader&&) noexcept;
  GzipReader& operator=(GzipReader&&) noexcept;
  ~GzipReader();

  // Returns the next decompressed bytes (valid until the next call), an
  // empty view at the end of the last member, or an `Io` error for data that
  // is not gzip, is corrupt or ends before its last member does.
  [[nodiscard]] Result<std::string_view> read();

  // The reading state, defined where it is used.
  struct State;

 private:
  explicit GzipReader(std::unique_ptr<State> state);

  Result<bool> refill();
  Result<bool> start_next_member();

  std::unique_ptr<State> state_;
};

}  // namespace ferolin::tools
