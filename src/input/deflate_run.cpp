#include "input/deflate_run.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "input/deflate_bits.h"
#include "input/huffman_code.h"

namespace ferolin::tools {
namespace {

constexpr std::array<std::uint16_t, 29> kLengthBase = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1,
                                                       1, 1, 2, 2, 2, 2, 3, 3, 3, 3,
                                                       4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,
                                                         4, 4, 5, 5, 6, 6, 7,  7,  8,  8,
                                                         9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr int kEndOfBlock = 256;
constexpr std::size_t kFirstCapacity = std::size_t{1} << 16;

struct BlockCodes {
  HuffmanCode literals;
  HuffmanCode distances;
};

const BlockCodes& fixed_codes() {
  static const BlockCodes codes = [] {
    BlockCodes built;
    std::array<std::uint8_t, 288> lengths{};
    for (std::size_t i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    (void)built.literals.build(lengths, false);
    std::array<std::uint8_t, 32> distance_lengths{};
    distance_lengths.fill(5);
    (void)built.distances.build(distance_lengths, false);
    return built;
  }();
  return codes;
}

// Reads a dynamic block's code tables (after its three header bits), with
// every check zlib makes. Returns false where zlib would fail.
bool read_dynamic_codes(DeflateBits& bits, BlockCodes& codes) {
  const unsigned literal_count = static_cast<unsigned>(bits.take(5)) + 257;
  const unsigned distance_count = static_cast<unsigned>(bits.take(5)) + 1;
  const unsigned length_codes = static_cast<unsigned>(bits.take(4)) + 4;
  if (literal_count > 286 || distance_count > 30) return false;
  std::array<std::uint8_t, 19> code_lengths{};
  for (unsigned i = 0; i < length_codes; ++i) {
    code_lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(bits.take(3));
  }
  HuffmanCode length_code;
  if (!length_code.build(code_lengths, false)) return false;
  std::array<std::uint8_t, 286 + 30> lengths{};
  const unsigned total = literal_count + distance_count;
  for (unsigned i = 0; i < total;) {
    const int symbol = length_code.decode(bits);
    if (symbol < 0) return false;
    if (symbol < 16) {
      lengths[i++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    std::uint8_t repeated = 0;
    unsigned times;
    if (symbol == 16) {
      if (i == 0) return false;
      repeated = lengths[i - 1];
      times = 3 + static_cast<unsigned>(bits.take(2));
    } else if (symbol == 17) {
      times = 3 + static_cast<unsigned>(bits.take(3));
    } else {
      times = 11 + static_cast<unsigned>(bits.take(7));
    }
    if (i + times > total) return false;
    for (; times > 0; --times) lengths[i++] = repeated;
  }
  if (lengths[kEndOfBlock] == 0) return false;
  return codes.literals.build({lengths.data(), literal_count}, true) &&
         codes.distances.build({lengths.data() + literal_count, distance_count}, true) &&
         !bits.overran();
}

class RunDecoder {
 public:
  RunDecoder(const std::uint8_t* data, std::size_t size, std::uint64_t start_bit,
             const RunLimits& limits, DecodedRun& run)
      : bits_(data, size, start_bit), size_(size), limits_(limits), run_(run) {}

  void decode() {
    run_.start_bit = bits_.position();
    run_.size = 0;
    run_.blocks = 0;
    run_.end = decode_blocks();
  }

 private:
  RunEnd decode_blocks() {
    while (true) {
      run_.end_bit = bits_.position();
      if (run_.end_bit >= limits_.stop_bit || run_.size >= limits_.soft_symbols) {
        return RunEnd::Boundary;
      }
      const bool final = bits_.take(1) != 0;
      const RunEnd end = decode_block(static_cast<unsigned>(bits_.take(2)));
      if (end != RunEnd::Boundary) return end;
      if (bits_.overran()) return RunEnd::Truncated;
      ++run_.blocks;
      if (final) {
        run_.end_bit = bits_.position();
        return RunEnd::Final;
      }
    }
  }

  // Returns Boundary once the block has ended.
  RunEnd decode_block(unsigned type) {
    if (type == 0) return copy_stored();
    if (type == 1) return decode_codes(fixed_codes());
    if (type == 3 || !read_dynamic_codes(bits_, codes_)) return RunEnd::Invalid;
    return decode_codes(codes_);
  }

  RunEnd copy_stored() {
    bits_.align_to_byte();
    const auto length = static_cast<std::size_t>(bits_.take(16));
    const auto complement = static_cast<std::size_t>(bits_.take(16));
    if (length != (~complement & 0xffff)) return RunEnd::Invalid;
    const std::uint64_t first = bits_.position() / 8;
    if (bits_.overran() || first + length > size_) return RunEnd::Truncated;
    if (!make_room(run_.size + length)) return RunEnd::TooLong;
    for (std::size_t i = 0; i < length; ++i) run_.symbols[run_.size + i] = bits_.data()[first + i];
    run_.size += length;
    bits_.skip(static_cast<unsigned>(length * 8));
    return RunEnd::Boundary;
  }

  RunEnd decode_codes(const BlockCodes& codes) {
    std::uint16_t* out = run_.symbols.get();
    std::size_t at = run_.size;
    const std::uint64_t end_of_data = std::uint64_t{size_} * 8;
    while (true) {
      if (bits_.position() > end_of_data) return RunEnd::Truncated;
      if (at >= run_.capacity) {
        run_.size = at;
        if (!make_room(at + 1)) return RunEnd::TooLong;
        out = run_.symbols.get();
      }
      const int symbol = codes.literals.decode(bits_);
      if (symbol < kEndOfBlock) {
        if (symbol < 0) return RunEnd::Invalid;
        out[at++] = static_cast<std::uint16_t>(symbol);
        continue;
      }
      if (symbol == kEndOfBlock) break;
      const auto index = static_cast<std::size_t>(symbol - 257);
      if (index >= kLengthBase.size()) return RunEnd::Invalid;
      const std::size_t length = kLengthBase[index] + bits_.take(kLengthExtra[index]);
      const int distance_symbol = codes.distances.decode(bits_);
      if (distance_symbol < 0 || distance_symbol >= 30) return RunEnd::Invalid;
      const auto d = static_cast<std::size_t>(distance_symbol);
      const std::size_t distance = kDistanceBase[d] + bits_.take(kDistanceExtra[d]);
      if (distance <= at) {
        const std::uint16_t* from = out + at - distance;
        for (std::size_t i = 0; i < length; ++i) out[at + i] = from[i];
      } else if (!copy_from_window(out, at, distance, length)) {
        return RunEnd::Invalid;
      }
      at += length;
    }
    run_.size = at;
    return RunEnd::Boundary;
  }

  // Grows the output to hold `needed` symbols (and the slack). Returns
  // false past the run's limit.
  bool make_room(std::size_t needed) {
    if (needed <= run_.capacity) return true;
    if (needed > limits_.max_symbols) return false;
    const std::size_t capacity =
        std::min(limits_.max_symbols, std::max({needed, 2 * run_.capacity, kFirstCapacity}));
    auto grown = std::make_unique_for_overwrite<std::uint16_t[]>(capacity + kMatchSlack);
    if (run_.size > 0) std::memcpy(grown.get(), run_.symbols.get(), run_.size * 2);
    run_.symbols = std::move(grown);
    run_.capacity = capacity;
    return true;
  }

  // A copy reaching back before the run's first symbol: markers for the
  // window bytes, then the run's own symbols.
  bool copy_from_window(std::uint16_t* out, std::size_t at, std::size_t distance,
                        std::size_t length) const {
    if (limits_.at_stream_start) return false;
    for (std::size_t i = 0; i < length; ++i) {
      const std::size_t from = at + i + kWindowSize - distance;  // index from the window's start
      out[at + i] = from < kWindowSize ? static_cast<std::uint16_t>(kWindowMarker + from)
                                       : out[from - kWindowSize];
    }
    return true;
  }

  DeflateBits bits_;
  std::size_t size_;
  const RunLimits& limits_;
  DecodedRun& run_;
  BlockCodes codes_;
};

}  // namespace

void decode_run(const std::uint8_t* data, std::size_t size, std::uint64_t start_bit,
                const RunLimits& limits, DecodedRun& run) {
  RunDecoder(data, size, start_bit, limits, run).decode();
}

bool dynamic_header_at(const std::uint8_t* data, std::size_t size, std::uint64_t bit) {
  DeflateBits bits(data, size, bit);
  // Not final, dynamic (type 2; the low bit is read first), counts in range.
  if (bits.take(3) != 0b100) return false;
  const std::uint64_t counts = bits.peek(14);
  if ((counts & 31) > 29 || ((counts >> 5) & 31) > 29) return false;
  // The code-length code must be complete: most guesses fail this before
  // any table is built.
  const unsigned length_codes = static_cast<unsigned>(counts >> 10) + 4;
  const std::uint64_t lengths = DeflateBits(data, size, bit + 17).peek(3 * length_codes);
  unsigned kraft = 0;  // in 1/128ths
  for (unsigned i = 0; i < length_codes; ++i) {
    const auto length = static_cast<unsigned>((lengths >> (3 * i)) & 7);
    if (length != 0) kraft += 128u >> length;
  }
  if (kraft != 128) return false;
  BlockCodes codes;
  return read_dynamic_codes(bits, codes);
}

}  // namespace ferolin::tools
