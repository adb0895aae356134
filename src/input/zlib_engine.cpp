// The zlib engine: inflate() with gzip headers and trailers checked.
#include <zlib.h>

#include "input/inflate_engine.h"
#include "input/inflate_engine_factories.h"

namespace ferolin::tools {
namespace {

// zlib's windowBits for a gzip header and trailer only (no raw deflate, no
// zlib wrapper): 15 + 16.
constexpr int kGzipWindowBits = 15 + 16;

class ZlibEngine final : public InflateEngine {
 public:
  bool start() { return initialised_ = inflateInit2(&stream_, kGzipWindowBits) == Z_OK; }
  ~ZlibEngine() override {
    if (initialised_) inflateEnd(&stream_);
  }

  void supply(std::string_view input) override {
    // zlib takes a non-const pointer but never writes through next_in.
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream_.avail_in = static_cast<uInt>(input.size());
  }

  std::size_t input_left() const override { return stream_.avail_in; }

  std::expected<InflateStep, InflateFailure> inflate(std::span<char> out) override {
    const uInt before_in = stream_.avail_in;
    stream_.next_out = reinterpret_cast<Bytef*>(out.data());
    stream_.avail_out = static_cast<uInt>(out.size());
    const int status = ::inflate(&stream_, Z_NO_FLUSH);
    const std::size_t produced = out.size() - stream_.avail_out;
    if (status == Z_MEM_ERROR) return std::unexpected(InflateFailure{"out of memory", produced});
    if (status != Z_OK && status != Z_BUF_ERROR && status != Z_STREAM_END) {
      return std::unexpected(InflateFailure{
          stream_.msg != nullptr ? stream_.msg : "invalid compressed data", produced});
    }
    InflateStep step;
    step.produced = produced;
    step.progressed = step.produced > 0 || stream_.avail_in != before_in;
    step.member_end = status == Z_STREAM_END;
    return step;
  }

  bool next_member() override { return inflateReset(&stream_) == Z_OK; }

 private:
  z_stream stream_{};
  bool initialised_ = false;
};

}  // namespace

std::unique_ptr<InflateEngine> make_zlib_engine() {
  auto engine = std::make_unique<ZlibEngine>();
  if (!engine->start()) return nullptr;
  return engine;
}

}  // namespace ferolin::tools
