// GzipInflater: inflates a gzip stream on the calling thread, into buffers
// the caller gives, pulling compressed bytes as it needs them. Several gzip
// members back to back (as `cat a.gz b.gz` or parallel compressors write)
// read as one. GzipReader runs it on a thread of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "core/error.h"
#include "input/inflate_engine.h"

namespace ferolin::tools {

// Hands out the next compressed bytes (valid until the next call), an empty
// view at the end, or a failure.
using ByteReader = std::function<Result<std::string_view>()>;

class GzipInflater {
 public:
  // Returns an inflater of the bytes `compressed` hands out, or an `Io`
  // error when the library cannot start.
  [[nodiscard]] static Result<GzipInflater> open(ByteReader compressed,
                                                 Inflater kind = fastest_inflater());

  // Returns the number of bytes inflated into `out` (at least one while the
  // stream goes on, 0 after the end of the last member), or an `Io` error
  // for data that is not gzip, is corrupt or ends before its last member
  // does, or the failure of `compressed`.
  [[nodiscard]] Result<std::size_t> read(std::span<char> out);

 private:
  GzipInflater(ByteReader compressed, std::unique_ptr<InflateEngine> engine);

  Result<bool> refill();
  Result<void> after_member();

  ByteReader compressed_;
  std::unique_ptr<InflateEngine> engine_;
  bool input_ended_ = false;     // `compressed_` has handed out its last bytes
  bool ended_ = false;           // the last member is complete
  bool member_started_ = false;  // the current member has used input or made output
  bool stalled_ = false;         // the last inflate could do nothing with what it had
  std::uint64_t members_done_ = 0;
  // A failure found by a call that also inflated bytes: given after them.
  std::optional<FerolinError> failure_after_bytes_;
};

}  // namespace ferolin::tools
