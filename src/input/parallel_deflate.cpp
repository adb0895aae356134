#include "input/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "input/background_thread.h"
#include "input/block_finder.h"
#include "input/deflate_bits.h"
#include "input/deflate_run.h"

namespace ferolin::tools {
namespace {

// Compressed bytes a chunk's decoding may read past the chunk to finish its
// last block; a block longer than this is left to the sequential inflate.
constexpr std::size_t kOverrunBytes = std::size_t{1} << 20;
// A run stops at the first block boundary past this many symbols, and one
// block may add at most kBlockSymbols more: bounds a run's memory whatever
// the compression ratio.
// A block's output beyond that (more than zlib's longest blocks of the most
// compressible data) sends the stream to the sequential inflate.
constexpr std::size_t kRunSymbols = std::size_t{4} << 20;
constexpr std::size_t kBlockSymbols = std::size_t{4} << 20;

struct ChunkRun {
  DecodedRun run;
  std::uint64_t base_bit = 0;  // stream bit of the run's buffer's first byte
  bool usable = false;         // decoded from a found start to a boundary or the end

  [[nodiscard]] std::uint64_t start() const { return base_bit + run.start_bit; }
  [[nodiscard]] std::uint64_t end() const { return base_bit + run.end_bit; }
};

}  // namespace

struct ParallelDeflate::State {
  State(ReadAt reader, std::uint64_t first, std::uint64_t last, ParallelDeflateOptions chosen)
      : file(std::move(reader)), start(first), limit(last), options(chosen),
        chunks((last - first + chosen.chunk_bytes - 1) / chosen.chunk_bytes) {}
  ~State() { stop(); }

  void stop() {
    {
      const std::lock_guard lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    for (std::thread& worker : workers) {
      if (worker.joinable()) worker.join();
    }
  }

  [[nodiscard]] std::uint64_t chunk_end_bit(std::size_t chunk) const {
    return std::uint64_t{chunk + 1} * options.chunk_bytes * 8;
  }

  const ReadAt file;
  const std::uint64_t start;  // the stream's first byte in the file
  const std::uint64_t limit;  // the stream ends before this byte
  const ParallelDeflateOptions options;
  const std::size_t chunks;

  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next_job = 0;     // the next chunk a worker takes
  std::size_t ordering = 0;     // the chunk the reading thread is at
  std::map<std::size_t, ChunkRun> decoded;
  // Output buffers of runs handed out, for the next runs: a fresh buffer
  // costs the kernel's zeroing of every page it touches.
  std::vector<DecodedRun> spare_runs;
  bool stopping = false;
  std::vector<std::thread> workers;

  // The reading thread's own.
  std::uint64_t position = 0;  // stream bit where the bytes handed out end
  bool taken = false;          // the worker's run of chunk `ordering` was used or refused
  ChunkRun current;
  std::size_t handed = 0;      // symbols of `current` handed out
  bool final_seen = false;
  bool in_doubt = false;
  std::array<char, kWindowSize> window{};  // the 32 KiB before `current`
  std::size_t window_known = 0;
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
};

namespace {

// Reads `length` stream bytes from stream byte `from` into a padded buffer;
// fewer at the stream's limit. Returns nothing when the read fails.
std::optional<PaddedBytes> read_stream(const ParallelDeflate::State& s, std::uint64_t from,
                                       std::uint64_t length) {
  length = std::min(length, s.limit - s.start - std::min(from, s.limit - s.start));
  PaddedBytes bytes = PaddedBytes::of_size(static_cast<std::size_t>(length));
  std::size_t filled = 0;
  while (filled < bytes.size) {
    const Result<std::size_t> got = s.file(
        s.start + from + filled,
        {reinterpret_cast<char*>(bytes.data.get()) + filled, bytes.size - filled});
    if (!got) return std::nullopt;
    if (*got == 0) break;
    filled += *got;
  }
  bytes.size = filled;
  return bytes;
}

RunLimits run_limits(std::uint64_t stop_bit, bool at_stream_start) {
  RunLimits limits;
  limits.stop_bit = stop_bit;
  limits.soft_symbols = kRunSymbols;
  limits.max_symbols = kRunSymbols + kBlockSymbols;
  limits.at_stream_start = at_stream_start;
  return limits;
}

bool run_usable(const DecodedRun& run) {
  return run.end == RunEnd::Boundary || run.end == RunEnd::Final;
}

// A spare run buffer, or an empty one.
DecodedRun spare_run(ParallelDeflate::State& s) {
  const std::lock_guard lock(s.mutex);
  if (s.spare_runs.empty()) return {};
  DecodedRun run = std::move(s.spare_runs.back());
  s.spare_runs.pop_back();
  return run;
}

void give_back(ParallelDeflate::State& s, DecodedRun run) {
  const std::lock_guard lock(s.mutex);
  if (s.spare_runs.size() <= s.options.threads) s.spare_runs.push_back(std::move(run));
}

// Decodes from stream bit `from` (a known block boundary in chunk `chunk`)
// to the first boundary past the chunk.
ChunkRun decode_from(ParallelDeflate::State& s, std::size_t chunk, std::uint64_t from) {
  ChunkRun result{spare_run(s)};
  const std::uint64_t first_byte = from / 8;
  result.base_bit = first_byte * 8;
  const std::uint64_t chunk_end = s.chunk_end_bit(chunk) / 8;
  std::optional<PaddedBytes> bytes =
      read_stream(s, first_byte, chunk_end - first_byte + kOverrunBytes);
  if (!bytes) return result;
  decode_run(bytes->data.get(), bytes->size, from % 8,
             run_limits(s.chunk_end_bit(chunk) - result.base_bit, from == 0), result.run);
  result.usable = run_usable(result.run);
  return result;
}

// A worker's decoding of chunk `chunk`: from the stream's start for the
// first, from a guessed block boundary for the others.
ChunkRun decode_chunk(ParallelDeflate::State& s, std::size_t chunk) {
  if (chunk == 0) return decode_from(s, 0, 0);
  ChunkRun result{spare_run(s)};
  const std::uint64_t first_byte = std::uint64_t{chunk} * s.options.chunk_bytes;
  result.base_bit = first_byte * 8;
  std::optional<PaddedBytes> bytes =
      read_stream(s, first_byte, s.options.chunk_bytes + kOverrunBytes);
  if (!bytes) return result;
  const std::uint64_t chunk_bits = std::uint64_t{s.options.chunk_bytes} * 8;
  const std::optional<std::uint64_t> found =
      find_block_start(bytes->data.get(), bytes->size, 0, chunk_bits);
  if (!found) return result;
  decode_run(bytes->data.get(), bytes->size, *found, run_limits(chunk_bits, false), result.run);
  result.usable = run_usable(result.run);
  return result;
}

void work(ParallelDeflate::State& s) {
  // Chunks decoded ahead of the reading thread, waiting or in progress.
  const std::size_t ahead = std::size_t{s.options.threads} + 1;
  while (true) {
    std::size_t chunk;
    {
      std::unique_lock lock(s.mutex);
      s.changed.wait(lock, [&s, ahead] {
        return s.stopping || s.next_job >= s.chunks || s.next_job < s.ordering + ahead;
      });
      if (s.stopping || s.next_job >= s.chunks) return;
      chunk = std::max(s.next_job, s.ordering);
      s.next_job = chunk + 1;
    }
    ChunkRun run = decode_chunk(s, chunk);
    {
      const std::lock_guard lock(s.mutex);
      if (chunk >= s.ordering) s.decoded.emplace(chunk, std::move(run));
    }
    s.changed.notify_all();
  }
}

// Moves the reading thread to the chunk holding `position`, dropping the
// runs of the chunks it passed.
void advance(ParallelDeflate::State& s) {
  std::size_t chunk = s.ordering;
  while (chunk < s.chunks && s.chunk_end_bit(chunk) <= s.position) ++chunk;
  if (chunk == s.ordering) return;
  {
    const std::lock_guard lock(s.mutex);
    s.ordering = chunk;
    s.decoded.erase(s.decoded.begin(), s.decoded.lower_bound(chunk));
  }
  s.taken = false;
  s.changed.notify_all();
}

// The worker's run of the current chunk when it starts where the bytes
// handed out end, else a run decoded here from that point.
ChunkRun next_run(ParallelDeflate::State& s) {
  if (!s.taken) {
    s.taken = true;
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&s] { return s.decoded.contains(s.ordering); });
    ChunkRun run = std::move(s.decoded.at(s.ordering));
    s.decoded.erase(s.ordering);
    lock.unlock();
    if (run.usable && run.start() == s.position) return run;
  }
  return decode_from(s, s.ordering, s.position);
}

// Writes the bytes of `count` symbols, resolving markers with the window
// before the current run. Returns false for a marker before the stream's
// first byte.
bool resolve(const ParallelDeflate::State& s, const std::uint16_t* symbols, std::size_t count,
             char* out) {
  const std::size_t lowest = kWindowSize - s.window_known;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t symbol = symbols[i];
    if (symbol < 256) {
      out[i] = static_cast<char>(symbol);
      continue;
    }
    const std::size_t index = symbol - kWindowMarker;
    if (index < lowest) return false;
    out[i] = s.window[index];
  }
  return true;
}

// After the current run is handed out: the window becomes its last 32 KiB
// (with the old window's end before a short run).
void slide_window(ParallelDeflate::State& s) {
  const std::size_t size = s.current.run.size;
  const std::size_t kept = kWindowSize - std::min(size, kWindowSize);
  std::array<char, kWindowSize> next{};
  std::memcpy(next.data(), s.window.data() + kWindowSize - kept, kept);
  (void)resolve(s, s.current.run.symbols.get() + size - (kWindowSize - kept), kWindowSize - kept,
                next.data() + kept);
  s.window = next;
  s.window_known = std::min<std::uint64_t>(kWindowSize, s.size);
}

// Starts the next run. Returns false when in doubt.
bool start_next_run(ParallelDeflate::State& s) {
  advance(s);
  if (s.ordering >= s.chunks) return false;
  s.current = next_run(s);
  s.handed = 0;
  if (!s.current.usable) return false;
  s.position = s.current.end();
  s.final_seen = s.current.run.end == RunEnd::Final;
  if (s.final_seen) s.stop();
  return true;
}

}  // namespace

Result<ParallelDeflate> ParallelDeflate::open(ReadAt file, std::uint64_t start, std::uint64_t limit,
                                              ParallelDeflateOptions options) {
  options.threads = std::max(options.threads, 1u);
  auto state = std::make_unique<State>(std::move(file), start, std::max(start, limit), options);
  for (unsigned i = 0; i < options.threads; ++i) {
    Result<std::thread> worker =
        start_background_thread([s = state.get()] { work(*s); }, "decoding thread");
    if (!worker) return std::unexpected(std::move(worker.error()));
    state->workers.push_back(std::move(*worker));
  }
  return ParallelDeflate(std::move(state));
}

ParallelDeflate::ParallelDeflate(std::unique_ptr<State> state) : state_(std::move(state)) {}
ParallelDeflate::ParallelDeflate(ParallelDeflate&&) noexcept = default;
ParallelDeflate& ParallelDeflate::operator=(ParallelDeflate&&) noexcept = default;
ParallelDeflate::~ParallelDeflate() = default;

std::optional<std::size_t> ParallelDeflate::read(std::span<char> out) {
  State& s = *state_;
  while (!s.in_doubt) {
    const std::size_t left = s.current.run.size - s.handed;
    if (left > 0) {
      const std::size_t count = std::min(left, out.size());
      if (!resolve(s, s.current.run.symbols.get() + s.handed, count, out.data())) break;
      s.crc = static_cast<std::uint32_t>(
          ::crc32(s.crc, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(count)));
      s.handed += count;
      s.size += count;
      if (s.handed == s.current.run.size) {
        slide_window(s);
        give_back(s, std::move(s.current.run));
        s.current = ChunkRun();
        s.handed = 0;
      }
      return count;
    }
    if (s.final_seen) return 0;
    s.in_doubt = !start_next_run(s);
  }
  s.in_doubt = true;
  s.stop();
  return std::nullopt;
}

std::uint64_t ParallelDeflate::end_byte() const {
  return state_->start + (state_->position + 7) / 8;
}
std::uint64_t ParallelDeflate::progress_byte() const {
  return state_->start + state_->position / 8;
}
std::uint32_t ParallelDeflate::crc32() const { return state_->crc; }
std::uint64_t ParallelDeflate::inflated_bytes() const { return state_->size; }

}  // namespace ferolin::tools
