#include "input/parallel_gzip.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/os/file_reader.h"
#include "input/gzip_header.h"

namespace ferolin::tools {
namespace {

// Bytes read to find the header: a name or comment longer than this sends
// the file to the sequential inflate.
constexpr std::size_t kHeaderBytes = 4096;
constexpr std::size_t kTrailerBytes = 8;
// The sequential inflate reads the pieces a FileReader reads: where the
// inflate's report of a fault depends on where its input was cut, it is the
// one a sequential read of the file gives.
constexpr std::size_t kSequentialPiece = os::kReadChunkSize;

// Reads up to `size` bytes at `offset`; fewer at the end of the file.
Result<std::string> read_bytes(const ReadAt& file, std::uint64_t offset, std::size_t size) {
  std::string bytes(size, '\0');
  std::size_t filled = 0;
  while (filled < size) {
    const Result<std::size_t> got = file(offset + filled, {bytes.data() + filled, size - filled});
    if (!got) return std::unexpected(got.error());
    if (*got == 0) break;
    filled += *got;
  }
  bytes.resize(filled);
  return bytes;
}

std::uint32_t little_endian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= std::uint32_t{static_cast<std::uint8_t>(bytes[at + i])} << (8 * i);
  }
  return value;
}

}  // namespace

Result<ParallelGzipInflater> ParallelGzipInflater::open(
    ReadAt file, std::uint64_t file_size, ParallelDeflateOptions options,
    std::shared_ptr<std::atomic<std::uint64_t>> progress, Inflater kind) {
  ParallelGzipInflater inflater(std::move(file), file_size, std::move(progress), kind);
  const Result<std::string> head = read_bytes(inflater.source_->file, 0, kHeaderBytes);
  const std::optional<std::size_t> header =
      head ? gzip_header_size(*head) : std::optional<std::size_t>();
  if (header && file_size >= *header + kTrailerBytes) {
    // Without its threads the file still inflates, sequentially.
    Result<ParallelDeflate> parallel = ParallelDeflate::open(
        inflater.source_->file, *header, file_size - kTrailerBytes, options);
    if (parallel) {
      inflater.parallel_.emplace(std::move(*parallel));
      return inflater;
    }
  }
  if (Result<void> started = inflater.start_sequential(); !started) {
    return std::unexpected(std::move(started.error()));
  }
  return inflater;
}

ParallelGzipInflater::ParallelGzipInflater(ReadAt file, std::uint64_t file_size,
                                           std::shared_ptr<std::atomic<std::uint64_t>> progress,
                                           Inflater kind)
    : source_(std::make_unique<Source>(Source{std::move(file), file_size, 0, {}})),
      progress_(std::move(progress)),
      kind_(kind) {}

Result<std::size_t> ParallelGzipInflater::read(std::span<char> out) {
  if (parallel_) return read_parallel(out);
  return read_sequential(out);
}

Result<std::size_t> ParallelGzipInflater::read_parallel(std::span<char> out) {
  const std::optional<std::size_t> count = parallel_->read(out);
  if (count && *count > 0) {
    handed_ += *count;
    progress_->store(parallel_->progress_byte(), std::memory_order_relaxed);
    return *count;
  }
  if (count && trailer_matches()) {
    parallel_.reset();
    progress_->store(source_->size, std::memory_order_relaxed);
    return 0;
  }
  parallel_.reset();
  if (Result<void> started = start_sequential(); !started) {
    return std::unexpected(std::move(started.error()));
  }
  return read_sequential(out);
}

// The member ends with its trailer and the file with the member.
bool ParallelGzipInflater::trailer_matches() const {
  const std::uint64_t end = parallel_->end_byte();
  if (end + kTrailerBytes != source_->size) return false;
  const Result<std::string> trailer = read_bytes(source_->file, end, kTrailerBytes);
  return trailer && trailer->size() == kTrailerBytes &&
         little_endian32(*trailer, 0) == parallel_->crc32() &&
         little_endian32(*trailer, 4) == static_cast<std::uint32_t>(parallel_->inflated_bytes());
}

Result<void> ParallelGzipInflater::start_sequential() {
  ByteReader pieces = [s = source_.get()]() -> Result<std::string_view> {
    Result<std::string> piece = read_bytes(s->file, s->offset, kSequentialPiece);
    if (!piece) return std::unexpected(std::move(piece.error()));
    s->piece = std::move(*piece);
    s->offset += s->piece.size();
    return std::string_view(s->piece);
  };
  Result<GzipInflater> sequential = GzipInflater::open(std::move(pieces), kind_);
  if (!sequential) return std::unexpected(std::move(sequential.error()));
  sequential_.emplace(std::move(*sequential));
  skip_ = handed_;
  return {};
}

Result<std::size_t> ParallelGzipInflater::read_sequential(std::span<char> out) {
  while (true) {
    const Result<std::size_t> count = sequential_->read(out);
    progress_->store(source_->offset, std::memory_order_relaxed);
    if (!count || *count == 0) return count;
    // The bytes the parallel inflate handed out come again first.
    const std::size_t skipped = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, *count));
    skip_ -= skipped;
    if (skipped == *count) continue;
    std::memmove(out.data(), out.data() + skipped, *count - skipped);
    handed_ += *count - skipped;
    return *count - skipped;
  }
}

}  // namespace ferolin::tools
