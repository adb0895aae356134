// Fuzz target: ferolin's gzip reading (the fastest inflater this build has,
// on the caller's thread and on its own) against zlib inflating on the
// caller's thread. The first byte picks the input: the rest as it stands
// (hostile bytes), or text drawn from it compressed by zlib into one to three
// members at a drawn level and then damaged (a flipped byte, a cut, bytes
// appended) or left whole. Fed in pieces of a drawn size, every way must
// inflate the same bytes; where zlib fails, every way fails, after a prefix
// of what zlib gave or zlib's output being a prefix of its own.
// The parallel inflate of the first member's deflate stream (after zlib's
// 10-byte header), cut into tiny chunks and decoded on one to three
// threads, must give zlib's bytes and end where zlib's raw inflate ends
// wherever zlib succeeds; where it stops in doubt, what it gave is a prefix
// of zlib's output. The parallel gzip inflater, with the same chunks, must
// give what the sequential one gives reading the file as a FileReader
// does: the same bytes, or the same error after a prefix of its bytes or
// of theirs.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "core/os/file_reader.h"
#include "input/gzip_reader.h"
#include "input/parallel_deflate.h"
#include "input/parallel_gzip.h"

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

tools::ReadAt read_from(const std::string& compressed) {
  return [&compressed](std::uint64_t offset, std::span<char> into) -> Result<std::size_t> {
    if (offset >= compressed.size()) return 0;
    const std::size_t count = std::min<std::size_t>(into.size(), compressed.size() - offset);
    std::copy_n(compressed.data() + offset, count, into.data());
    return count;
  };
}

Inflated inflate_in_parallel(const std::string& compressed, std::size_t chunk, unsigned threads) {
  auto progress = std::make_shared<std::atomic<std::uint64_t>>(0);
  Result<tools::ParallelGzipInflater> inflater = tools::ParallelGzipInflater::open(
      read_from(compressed), compressed.size(), {threads, chunk}, progress);
  require(inflater.has_value(), "the parallel gzip inflater opens");
  Inflated result;
  char out[4096];
  while (true) {
    const Result<std::size_t> count = inflater->read(out);
    if (!count) {
      result.failed = true;
      result.error = count.error().message();
      return result;
    }
    if (*count == 0) break;
    result.bytes.append(out, *count);
  }
  require(progress->load() == compressed.size(), "the parallel gzip inflater reads the file");
  return result;
}

// zlib's raw inflate of the deflate stream at `start`: the bytes, whether
// the stream ended, and the byte after it.
struct RawInflated {
  std::string bytes;
  bool ended = false;
  std::size_t end = 0;
};

RawInflated zlib_raw_inflate(std::string_view compressed, std::size_t start) {
  RawInflated result;
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) abort();
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data() + start));
  stream.avail_in = static_cast<uInt>(compressed.size() - start);
  char out[1 << 14];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(out);
    stream.avail_out = sizeof out;
    status = inflate(&stream, Z_NO_FLUSH);
    result.bytes.append(out, sizeof out - stream.avail_out);
    if (status == Z_BUF_ERROR && stream.avail_out == 0) status = Z_OK;
  }
  result.ended = status == Z_STREAM_END;
  result.end = start + stream.total_in;
  inflateEnd(&stream);
  return result;
}

void check_parallel_deflate(const std::string& compressed, std::size_t chunk, unsigned threads) {
  constexpr std::size_t kHeader = 10;
  if (compressed.size() <= kHeader) return;
  const RawInflated reference = zlib_raw_inflate(compressed, kHeader);
  Result<tools::ParallelDeflate> parallel = tools::ParallelDeflate::open(
      read_from(compressed), kHeader, compressed.size(), {threads, chunk});
  require(parallel.has_value(), "the parallel inflate starts");
  std::string bytes;
  char out[4096];
  while (true) {
    const std::optional<std::size_t> count = parallel->read(out);
    if (!count) {
      require(reference.bytes.starts_with(bytes), "in doubt after a prefix of zlib's output");
      require(!reference.ended, "the parallel inflate is sure of what zlib inflates");
      return;
    }
    if (*count == 0) break;
    bytes.append(out, *count);
  }
  require(reference.ended, "the parallel inflate fails where zlib fails");
  require(bytes == reference.bytes, "the parallel inflate gives zlib's bytes");
  require(parallel->end_byte() == reference.end, "the parallel inflate ends where zlib ends");
  require(parallel->inflated_bytes() == bytes.size(), "the parallel inflate counts its bytes");
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                         static_cast<uInt>(bytes.size()));
  require(parallel->crc32() == crc, "the parallel inflate sums its bytes");
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
  // Drawn from the piece size, so that the corpus keeps its meaning.
  const std::size_t chunk = piece % 4096 + 1;
  const unsigned threads = static_cast<unsigned>(piece % 3) + 1;
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
  fuzz::check_parallel_deflate(compressed, chunk, threads);
  // A fault is reported as the sequential inflate reports it reading the
  // file in a FileReader's pieces, as the parallel one falls back to.
  const fuzz::Inflated sequential =
      fuzz::inflate(compressed, os::kReadChunkSize, tools::fastest_inflater(), 1);
  const fuzz::Inflated parallel = fuzz::inflate_in_parallel(compressed, chunk, threads);
  fuzz::require(parallel.failed == sequential.failed && parallel.error == sequential.error,
                "fails in parallel as it fails alone", parallel.error);
  fuzz::require(parallel.failed ? fuzz::one_prefix_of_other(parallel.bytes, sequential.bytes)
                                : parallel.bytes == sequential.bytes,
                "inflates in parallel what it inflates alone");
  return 0;
}
