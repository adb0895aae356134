#include "input/gzip_inflater.h"

#include <string>
#include <utility>

namespace ferolin::tools {
namespace {

FerolinError gzip_error(std::string_view what) {
  return FerolinError::io("gzip: " + std::string(what));
}

}  // namespace

Result<GzipInflater> GzipInflater::open(ByteReader compressed, Inflater kind) {
  std::unique_ptr<InflateEngine> engine = make_inflate_engine(kind);
  if (!engine) return std::unexpected(gzip_error("cannot start the inflater (out of memory?)"));
  return GzipInflater(std::move(compressed), std::move(engine));
}

GzipInflater::GzipInflater(ByteReader compressed, std::unique_ptr<InflateEngine> engine)
    : compressed_(std::move(compressed)), engine_(std::move(engine)) {}

// Fetches more compressed bytes when the engine has taken the last ones.
// Returns false when the input has ended.
Result<bool> GzipInflater::refill() {
  if (engine_->input_left() > 0) return true;
  if (input_ended_) return false;
  const Result<std::string_view> chunk = compressed_();
  if (!chunk) return std::unexpected(chunk.error());
  if (chunk->empty()) {
    input_ended_ = true;
    return false;
  }
  engine_->supply(*chunk);
  return true;
}

// After a member's trailer: the next member starts when more bytes follow;
// otherwise the stream has ended.
Result<void> GzipInflater::after_member() {
  const Result<bool> more = refill();
  if (!more) return std::unexpected(more.error());
  if (!*more) {
    ended_ = true;
    return {};
  }
  if (!engine_->next_member()) return std::unexpected(gzip_error("cannot reset"));
  member_started_ = false;
  ++members_done_;
  return {};
}

Result<std::size_t> GzipInflater::read(std::span<char> out) {
  if (failure_after_bytes_) return std::unexpected(*failure_after_bytes_);
  while (!ended_) {
    const Result<bool> more = refill();
    if (!more) return std::unexpected(more.error());
    // An engine may still hold bytes it took before the input ended (its
    // bit buffer, a match longer than the last output): only an inflate
    // that can do nothing more means the member is cut short.
    if (!*more && stalled_) {
      return std::unexpected(gzip_error("the data end inside a member (truncated file?)"));
    }
    const std::expected<InflateStep, InflateFailure> step = engine_->inflate(out);
    if (!step) {
      // The bytes inflated before the fault come first, whether the input
      // came in one piece or many; and a member that gave bytes did start.
      if (step.error().produced > 0) {
        failure_after_bytes_ = gzip_error(step.error().what);
        return step.error().produced;
      }
      // Bytes after a complete member that do not start another one are
      // named as such, not as a bad header.
      if (!member_started_ && members_done_ > 0) {
        return std::unexpected(gzip_error("the data after the last complete member are not gzip"));
      }
      return std::unexpected(gzip_error(step.error().what));
    }
    member_started_ = member_started_ || step->progressed;
    stalled_ = !step->progressed && !step->member_end;
    if (step->member_end) {
      if (Result<void> next = after_member(); !next) return std::unexpected(next.error());
    }
    if (step->produced > 0) return step->produced;
  }
  return 0;
}

}  // namespace ferolin::tools
