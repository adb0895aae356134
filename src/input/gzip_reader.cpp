#include "input/gzip_reader.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "input/background_thread.h"

namespace ferolin::tools {
namespace {

// Inflated bytes handed out per read: large enough that the table reader's
// per-chunk work and the hand-over between threads are negligible.
constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// Inflated buffers in flight: the caller's, the inflater's and two waiting.
// Memory stays at this many buffers whatever the compression ratio.
constexpr std::size_t kBuffers = 4;
// Compressed chunks the caller reads ahead of the inflater.
constexpr std::size_t kInputChunks = 2;

struct Filled {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
};

FerolinError stopped() { return FerolinError::io("gzip: the reader was closed"); }

}  // namespace

struct GzipReader::State {
  explicit State(ByteReader reader) : compressed(std::move(reader)) {}
  ~State() { stop(); }

  void stop() {
    if (!worker.joinable()) return;
    {
      const std::lock_guard lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    worker.join();
  }

  // Called on the caller's thread only.
  ByteReader compressed;
  std::unique_ptr<char[]> held;  // the buffer the caller's last view points into
  // Touched by the inflating thread only, once it runs.
  GzipReader::Inflate inflate;
  std::string taken;  // the compressed chunk the inflater works on

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> input;
  bool input_ended = false;
  std::optional<FerolinError> input_failure;
  std::deque<Filled> ready;
  std::vector<std::unique_ptr<char[]>> spare;
  bool done = false;
  std::optional<FerolinError> failure;
  bool stopping = false;
  std::thread worker;
};

namespace {

// The inflater's source on its own thread: the chunks the caller has read,
// then the end or the caller's failure, in file order.
Result<std::string_view> next_chunk(GzipReader::State& s) {
  std::unique_lock lock(s.mutex);
  s.changed.wait(lock, [&s] {
    return s.stopping || !s.input.empty() || s.input_ended || s.input_failure;
  });
  if (s.stopping) return std::unexpected(stopped());
  if (!s.input.empty()) {
    s.taken = std::move(s.input.front());
    s.input.pop_front();
    lock.unlock();
    s.changed.notify_all();
    return std::string_view(s.taken);
  }
  if (s.input_failure) return std::unexpected(*s.input_failure);
  return std::string_view();
}

// The inflating thread: fills spare buffers until the stream ends, fails or
// the reader is closed.
void inflate_ahead(GzipReader::State& s) {
  while (true) {
    std::unique_ptr<char[]> buffer;
    {
      std::unique_lock lock(s.mutex);
      s.changed.wait(lock, [&s] { return s.stopping || !s.spare.empty(); });
      if (s.stopping) return;
      buffer = std::move(s.spare.back());
      s.spare.pop_back();
    }
    const Result<std::size_t> size = s.inflate({buffer.get(), kBufferSize});
    {
      const std::lock_guard lock(s.mutex);
      if (!size) {
        s.failure = size.error();
      } else if (*size > 0) {
        s.ready.push_back({std::move(buffer), *size});
      }
      s.done = !size || *size == 0;
    }
    s.changed.notify_all();
    if (!size || *size == 0) return;
  }
}

// Starts the inflating thread with every signal blocked, so that a signal
// (Ctrl-C) reaches the caller's thread and interrupts its waits.
Result<void> start_worker(GzipReader::State& s) {
  Result<std::thread> worker =
      start_background_thread([&s] { inflate_ahead(s); }, "inflating thread");
  if (!worker) return std::unexpected(std::move(worker.error()));
  s.worker = std::move(*worker);
  return {};
}

Result<void> start_buffers_and_worker(GzipReader::State& s) {
  for (std::size_t i = 0; i < kBuffers; ++i) {
    s.spare.push_back(std::make_unique_for_overwrite<char[]>(kBufferSize));
  }
  return start_worker(s);
}

bool input_full(const GzipReader::State& s) {
  return s.input_ended || s.input_failure || s.input.size() >= kInputChunks;
}

// Reads one compressed chunk for the inflating thread, on the caller's
// thread, when it has room for one and still inflates (a pipe read after it
// failed could wait for nothing).
void read_ahead(GzipReader::State& s, std::unique_lock<std::mutex>& lock) {
  if (s.done || input_full(s)) return;
  lock.unlock();
  Result<std::string_view> chunk = s.compressed();
  std::string copy = chunk ? std::string(*chunk) : std::string();
  lock.lock();
  if (!chunk) {
    s.input_failure = std::move(chunk.error());
  } else if (copy.empty()) {
    s.input_ended = true;
  } else {
    s.input.push_back(std::move(copy));
  }
  s.changed.notify_all();
}

}  // namespace

Result<GzipReader> GzipReader::open(ByteReader compressed, unsigned threads, Inflater kind) {
  auto state = std::make_unique<State>(std::move(compressed));
  // The state lives on the heap: the inflater's source stays valid when the
  // reader moves.
  ByteReader source = [s = state.get(), threads] {
    return threads > 1 ? next_chunk(*s) : s->compressed();
  };
  Result<GzipInflater> inflater = GzipInflater::open(std::move(source), kind);
  if (!inflater) return std::unexpected(std::move(inflater.error()));
  state->inflate = [inflater = std::move(*inflater)](std::span<char> out) mutable {
    return inflater.read(out);
  };
  if (threads <= 1) {
    state->held = std::make_unique_for_overwrite<char[]>(kBufferSize);
    return GzipReader(std::move(state));
  }
  if (Result<void> started = start_buffers_and_worker(*state); !started) {
    return std::unexpected(std::move(started.error()));
  }
  return GzipReader(std::move(state));
}

Result<GzipReader> GzipReader::open_inflating(Inflate inflate) {
  auto state = std::make_unique<State>([]() -> Result<std::string_view> { return {}; });
  state->inflate = std::move(inflate);
  state->input_ended = true;
  if (Result<void> started = start_buffers_and_worker(*state); !started) {
    return std::unexpected(std::move(started.error()));
  }
  return GzipReader(std::move(state));
}

GzipReader::GzipReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
GzipReader::GzipReader(GzipReader&&) noexcept = default;
GzipReader& GzipReader::operator=(GzipReader&&) noexcept = default;
GzipReader::~GzipReader() = default;

Result<std::string_view> GzipReader::read() {
  State& s = *state_;
  if (!s.worker.joinable()) {
    const Result<std::size_t> size = s.inflate({s.held.get(), kBufferSize});
    if (!size) return std::unexpected(size.error());
    return std::string_view(s.held.get(), *size);
  }
  std::unique_lock lock(s.mutex);
  if (s.held) {
    s.spare.push_back(std::move(s.held));
    s.changed.notify_all();
  }
  while (true) {
    read_ahead(s, lock);
    if (!s.ready.empty()) {
      Filled next = std::move(s.ready.front());
      s.ready.pop_front();
      s.held = std::move(next.bytes);
      return std::string_view(s.held.get(), next.size);
    }
    if (s.done) {
      if (s.failure) return std::unexpected(*s.failure);
      return std::string_view();
    }
    if (input_full(s)) {
      s.changed.wait(lock, [&s] { return !s.ready.empty() || s.done || !input_full(s); });
    }
  }
}

}  // namespace ferolin::tools
