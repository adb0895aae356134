// DeflateRun: decodes consecutive deflate blocks (RFC 1951) from any bit
// offset of a buffer, whether or not the 32 KiB of output before that
// offset are known. A back-reference into that unknown window yields a
// marker symbol naming the window byte it copies (kWindowMarker + its index
// in the window), resolved once the window is known; literals are symbols
// below 256. This is what lets a stream be decoded from several places at
// once: each piece starts at a block boundary and waits only for the last
// 32 KiB of the piece before it.
#pragma once

#include <cstdint>
#include <memory>

namespace ferolin::tools {

constexpr std::uint16_t kWindowMarker = 0x8000;
constexpr std::size_t kWindowSize = 32768;
// The longest match: a run's buffer holds this many symbols past its
// capacity, so that a match is copied without a check per symbol.
constexpr std::size_t kMatchSlack = 258;

// Where a run stops.
struct RunLimits {
  // Stop at the first block boundary at or past this bit.
  std::uint64_t stop_bit = UINT64_MAX;
  // Stop at the first block boundary once this many symbols are out: keeps
  // a run's memory bounded by the compression ratio of one block only.
  std::size_t soft_symbols = SIZE_MAX;
  // The most symbols the output may hold; a block that needs more ends the
  // run as TooLong.
  std::size_t max_symbols = 0;
  // The run starts at the stream's start: a reference before it is invalid.
  bool at_stream_start = false;
};

enum class RunEnd {
  Boundary,   // stopped at a block boundary (end_bit), before its header
  Final,      // the final block ended at end_bit
  Invalid,    // the bits are not deflate data here
  Truncated,  // the buffer ended inside a block
  TooLong,    // a block outgrew the capacity
};

struct DecodedRun {
  // Grows as the run needs, by doubling; kept from run to run.
  std::unique_ptr<std::uint16_t[]> symbols;
  std::size_t capacity = 0;  // symbols held, beyond which kMatchSlack more fit
  std::size_t size = 0;      // symbols out
  std::uint64_t start_bit = 0;
  std::uint64_t end_bit = 0;
  std::size_t blocks = 0;  // blocks decoded whole
  RunEnd end = RunEnd::Invalid;
};

// Decodes blocks from `start_bit` of `data` (`size` bytes followed by 8
// readable ones) into `run.symbols` (growing it up to `limits.max_symbols`);
// sets every other field of `run`.
void decode_run(const std::uint8_t* data, std::size_t size, std::uint64_t start_bit,
                const RunLimits& limits, DecodedRun& run);

// Returns whether a dynamic-Huffman, non-final block header that zlib
// accepts starts at `bit` of `data`: the cheap first test of a guessed
// block boundary.
[[nodiscard]] bool dynamic_header_at(const std::uint8_t* data, std::size_t size,
                                     std::uint64_t bit);

}  // namespace ferolin::tools
