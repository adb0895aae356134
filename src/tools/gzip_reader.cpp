#include "tools/gzip_reader.h"

#include <zlib.h>

#include <memory>
#include <string>
#include <utility>

namespace ferolin::tools {
namespace {

// Inflated bytes handed out per read: large enough that the table reader's
// per-chunk work is negligible, small enough to stay in cache.
constexpr std::size_t kOutputSize = 256 * 1024;
// zlib's windowBits for a gzip header and trailer only (no raw deflate, no
// zlib wrapper): 15 + 16.
constexpr int kGzipWindowBits = 15 + 16;

FerolinError gzip_error(std::string_view what) {
  return FerolinError::io("gzip: " + std::string(what));
}

}  // namespace

struct GzipReader::State {
  ByteReader compressed;
  z_stream stream{};
  bool initialised = false;
  bool input_ended = false;     // `compressed` has handed out its last bytes
  bool ended = false;           // the last member is complete
  bool member_started = false;  // inflate has produced bytes of the current member
  std::uint64_t members_done = 0;
  std::unique_ptr<unsigned char[]> output =
      std::make_unique_for_overwrite<unsigned char[]>(kOutputSize);

  ~State() {
    if (initialised) inflateEnd(&stream);
  }
};

namespace {

// Describes a failed inflate: bytes after a complete member that do not
// start another one are named as such, not as a bad header.
FerolinError failure(const GzipReader::State& s, int status) {
  if (status == Z_MEM_ERROR) return gzip_error("out of memory");
  if (!s.member_started && s.members_done > 0) {
    return gzip_error("the data after the last complete member are not gzip");
  }
  return gzip_error(s.stream.msg != nullptr ? s.stream.msg : "invalid compressed data");
}

}  // namespace

Result<GzipReader> GzipReader::open(ByteReader compressed) {
  auto state = std::make_unique<State>();
  state->compressed = std::move(compressed);
  if (inflateInit2(&state->stream, kGzipWindowBits) != Z_OK) {
    return std::unexpected(gzip_error("cannot start zlib (out of memory?)"));
  }
  state->initialised = true;
  return GzipReader(std::move(state));
}

GzipReader::GzipReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
GzipReader::GzipReader(GzipReader&&) noexcept = default;
GzipReader& GzipReader::operator=(GzipReader&&) noexcept = default;
GzipReader::~GzipReader() = default;

// Fetches more compressed bytes when zlib has used up the last ones.
// Returns false when the input has ended.
Result<bool> GzipReader::refill() {
  State& s = *state_;
  if (s.stream.avail_in > 0) return true;
  if (s.input_ended) return false;
  const Result<std::string_view> chunk = s.compressed();
  if (!chunk) return std::unexpected(chunk.error());
  if (chunk->empty()) {
    s.input_ended = true;
    return false;
  }
  // zlib takes a non-const pointer but never writes through next_in.
  s.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk->data()));
  s.stream.avail_in = static_cast<uInt>(chunk->size());
  return true;
}

// After a member's trailer: returns true when another member follows (zlib
// is reset for it), false at the end of the input.
Result<bool> GzipReader::start_next_member() {
  const Result<bool> more = refill();
  if (!more || !*more) return more;
  if (inflateReset(&state_->stream) != Z_OK) return std::unexpected(gzip_error("cannot reset"));
  state_->member_started = false;
  ++state_->members_done;
  return true;
}

Result<std::string_view> GzipReader::read() {
  State& s = *state_;
  while (!s.ended) {
    const Result<bool> more = refill();
    if (!more) return std::unexpected(more.error());
    if (!*more) {
      return std::unexpected(gzip_error("the data end inside a member (truncated file?)"));
    }
    s.stream.next_out = s.output.get();
    s.stream.avail_out = static_cast<uInt>(kOutputSize);
    const int status = inflate(&s.stream, Z_NO_FLUSH);
    const std::size_t produced = kOutputSize - s.stream.avail_out;
    s.member_started = s.member_started || produced > 0;
    if (status == Z_STREAM_END) {
      const Result<bool> next = start_next_member();
      if (!next) return std::unexpected(next.error());
      s.ended = !*next;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      return std::unexpected(failure(s, status));
    }
    if (produced > 0) return std::string_view(reinterpret_cast<char*>(s.output.get()), produced);
  }
  return std::string_view();
}

}  // namespace ferolin::tools
