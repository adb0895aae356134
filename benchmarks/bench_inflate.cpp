// Benchmark of the gzip inflaters: one gzip file, held in memory, inflated
// by zlib and by ISA-L (each through GzipReader on the caller's thread, as
// the table reader inflates), and by libdeflate (one call over the whole
// buffer, which is all it offers) where the build found it, and by the
// parallel inflate (ParallelGzipInflater, as a large file with four or more
// threads is read) with 1 and 2 decoding threads. Prints one JSON line:
// seconds and MB/s of inflated output per inflater, best of --runs.
//
// Usage: bench_inflate PATH [--runs N]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "bench_util.h"
#include "input/gzip_reader.h"
#include "input/parallel_gzip.h"

#ifdef FEROLIN_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

using bench::Clock;
using bench::die;
using bench::seconds_since;

// Returns the inflated size, or dies on a failure.
std::size_t inflate_with(const std::string& compressed, ferolin::tools::Inflater kind) {
  bool given = false;
  ferolin::tools::ByteReader whole = [&]() -> ferolin::Result<std::string_view> {
    if (given) return std::string_view();
    given = true;
    return std::string_view(compressed);
  };
  auto reader = ferolin::tools::GzipReader::open(whole, 1, kind);
  if (!reader) die(reader.error().message());
  std::size_t total = 0;
  while (true) {
    auto chunk = reader->read();
    if (!chunk) die(chunk.error().message());
    if (chunk->empty()) return total;
    total += chunk->size();
  }
}

// The parallel inflate with `workers` decoding threads, read into 1 MiB
// buffers on the caller's thread.
std::size_t inflate_in_parallel(const std::string& compressed, unsigned workers) {
  ferolin::tools::ReadAt read_at = [&](std::uint64_t offset,
                                       std::span<char> into) -> ferolin::Result<std::size_t> {
    if (offset >= compressed.size()) return 0;
    const std::size_t count = std::min<std::size_t>(into.size(), compressed.size() - offset);
    std::copy_n(compressed.data() + offset, count, into.data());
    return count;
  };
  auto progress = std::make_shared<std::atomic<std::uint64_t>>(0);
  auto inflater = ferolin::tools::ParallelGzipInflater::open(read_at, compressed.size(),
                                                            {.threads = workers}, progress);
  if (!inflater) die(inflater.error().message());
  static std::string out(std::size_t{1} << 20, '\0');
  std::size_t total = 0;
  while (true) {
    auto count = inflater->read(out);
    if (!count) die(count.error().message());
    if (*count == 0) return total;
    total += *count;
  }
}

#ifdef FEROLIN_BENCH_LIBDEFLATE
// One member only: libdeflate needs the output size, which the trailer
// gives (modulo 2^32).
std::size_t inflate_with_libdeflate(const std::string& compressed, std::size_t size) {
  static std::string out(size, '\0');
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  std::size_t produced = 0;
  const auto status = libdeflate_gzip_decompress(decompressor, compressed.data(), compressed.size(),
                                                 out.data(), out.size(), &produced);
  libdeflate_free_decompressor(decompressor);
  if (status != LIBDEFLATE_SUCCESS) die("libdeflate cannot inflate the file (several members?)");
  return produced;
}
#endif

template <typename Inflate>
void measure(const char* name, int runs, Inflate&& inflate, bool& first) {
  double best = 1e300;
  std::size_t size = 0;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    size = inflate();
    best = std::min(best, seconds_since(start));
  }
  std::printf("%s\"%s\": {\"seconds\": %.4f, \"mb_per_s\": %.1f}", first ? "" : ", ", name, best,
              static_cast<double>(size) / best / 1e6);
  first = false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) die("usage: bench_inflate PATH [--runs N]");
  const int runs = argc >= 4 && std::string_view(argv[2]) == "--runs" ? std::atoi(argv[3]) : 3;
  std::ifstream file(argv[1], std::ios::binary);
  const std::string compressed{std::istreambuf_iterator<char>(file), {}};
  if (compressed.size() < 18) die("not a gzip file");
  bool first = true;
  std::printf("{");
  std::size_t size = 0;
  measure(
      "zlib", runs,
      [&] { return size = inflate_with(compressed, ferolin::tools::Inflater::Zlib); }, first);
  if (ferolin::tools::fastest_inflater() == ferolin::tools::Inflater::Isal) {
    measure("isal", runs, [&] { return inflate_with(compressed, ferolin::tools::Inflater::Isal); },
            first);
  }
  measure("parallel_1", runs, [&] { return inflate_in_parallel(compressed, 1); }, first);
  measure("parallel_2", runs, [&] { return inflate_in_parallel(compressed, 2); }, first);
#ifdef FEROLIN_BENCH_LIBDEFLATE
  measure("libdeflate", runs, [&] { return inflate_with_libdeflate(compressed, size); }, first);
#endif
  std::printf("}\n");
  return 0;
}
