// Fuzz target: ferolin's gzip reading (the fastest inflater this build has,
// on the caller's thread and on its own) against zlib inflating on the
// caller's thread. The first byte picks the input: the rest as it stands
// (hostile bytes), or text drawn from it compressed by zlib into one to three
// members at a drawn level and then damaged (a flipped byte, a cut, bytes
// appended) or left whole. Fed in pieces of a drawn size, every way must
// inflate the same bytes; where zlib fails, every way fails, after a prefix
// of what zlib gave or zlib's output being a prefix of its own.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "input/gzip_reader.h"

namespace ferolin::fuzz {
namespace {

struct Inflated {
  std::string bytes;
  bool failed = false;
  std::string error;
};

std::string gzip_members(FuzzedDataProvider& data) {
  const int level = data.ConsumeIntegralInRange(0, 9);
  const int members = data.ConsumeIntegralInRange(1, 3);
  std::string out;
  for (int m = 0; m < members; ++m) {
    std::string text = data.ConsumeRandomLengthString(1 << 16);
    // Repeats give the long matches that cross output buffers.
    if (data.ConsumeBool()) text = std::string(text.size() * 37 % 300000, 'x') + text;
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) abort();
    std::string member(deflateBound(&stream, static_cast<uLong>(text.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(text.data());
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(member.data());
    stream.avail_out = static_cast<uInt>(member.size());
    require(deflate(&stream, Z_FINISH) == Z_STREAM_END, "zlib compresses");
    member.resize(stream.total_out);
    deflateEnd(&stream);
    out += member;
  }
  return out;
}

void damage(FuzzedDataProvider& data, std::string& bytes) {
  if (bytes.empty()) return;
  switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0: {
      const std::size_t at = data.ConsumeIntegralInRange<std::size_t>(0, bytes.size() - 1);
      bytes[at] = static_cast<char>(bytes[at] ^ data.ConsumeIntegralInRange(1, 255));
      break;
    }
    case 1: bytes.resize(data.ConsumeIntegralInRange<std::size_t>(0, bytes.size() - 1)); break;
    case 2: bytes += data.ConsumeRandomLengthString(64); break;
    default: break;
  }
}

Inflated inflate(const std::string& compressed, std::size_t piece, tools::Inflater kind,
                 unsigned threads) {
  std::size_t at = 0;
  tools::ByteReader pieces = [&]() -> Result<std::string_view> {
    const std::string_view out = std::string_view(compressed).substr(at, piece);
    at += out.size();
    return out;
  };
  Inflated result;
  Result<tools::GzipReader> reader = tools::GzipReader::open(pieces, threads, kind);
  require(reader.has_value(), "the reader opens");
  while (true) {
    const Result<std::string_view> chunk = reader->read();
    if (!chunk) {
      result.failed = true;
      result.error = chunk.error().message();
      return result;
    }
    if (chunk->empty()) return result;
    result.bytes.append(*chunk);
  }
}

bool one_prefix_of_other(std::string_view a, std::string_view b) {
  return a.size() <= b.size() ? b.starts_with(a) : a.starts_with(b);
}

}  // namespace
}  // namespace ferolin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ferolin;
  FuzzedDataProvider provider(data, size);
  const bool hostile = provider.ConsumeBool();
  const std::size_t piece = provider.ConsumeIntegralInRange<std::size_t>(1, 70000);
  std::string compressed;
  if (hostile) {
    compressed = provider.ConsumeRemainingBytesAsString();
  } else {
    compressed = fuzz::gzip_members(provider);
    fuzz::damage(provider, compressed);
  }
  const fuzz::Inflated reference = fuzz::inflate(compressed, piece, tools::Inflater::Zlib, 1);
  for (const unsigned threads : {1u, 2u}) {
    const fuzz::Inflated ours =
        fuzz::inflate(compressed, piece, tools::fastest_inflater(), threads);
    fuzz::require(ours.failed == reference.failed, "fails where zlib fails",
                  ours.failed ? ours.error : reference.error);
    if (!ours.failed) {
      fuzz::require(ours.bytes == reference.bytes, "inflates what zlib inflates");
    } else {
      fuzz::require(fuzz::one_prefix_of_other(ours.bytes, reference.bytes),
                    "inflates a prefix of zlib's output before failing");
    }
  }
  return 0;
}
