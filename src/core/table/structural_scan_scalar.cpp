// The plain C++ kernel of the structural scan, for every processor: the
// class masks come from eight bytes at a time in 64-bit integers.
#include <algorithm>
#include <bit>
#include <cstring>

#include "core/table/bit_tricks.h"
#include "core/table/structural_scan_blocks.h"

namespace ferolin::table::scan::scalar {

#define FEROLIN_SCAN_TARGET

namespace {

constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
constexpr std::uint64_t kHigh = 0x8080808080808080;

constexpr std::uint64_t repeat(char c) {
  return 0x0101010101010101 * static_cast<unsigned char>(c);
}

// Returns the bytes of `word` that equal those of `pattern` as bit 7 of
// each byte (exact: no borrow crosses from one byte to the next).
inline std::uint64_t equal_bytes(std::uint64_t word, std::uint64_t pattern) {
  const std::uint64_t x = word ^ pattern;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// Gathers bit 7 of each byte into the low eight bits, byte 0 in bit 0.
inline std::uint64_t gather(std::uint64_t high_bits) {
  return ((high_bits >> 7) * 0x0102040810204080) >> 56;
}

inline std::uint64_t load_word(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

class Classifier {
 public:
  explicit Classifier(char separator) : separator_(repeat(separator)) {}

  BlockClasses classify(const char* block) {
    BlockClasses classes;
    std::uint64_t seen = 0;
    for (int i = 0; i < 8; ++i) {
      const std::uint64_t word = load_word(block + 8 * i);
      seen |= word;
      const std::uint64_t ends =
          equal_bytes(word, separator_) | equal_bytes(word, kCr) | equal_bytes(word, kLf);
      classes.quotes |= gather(equal_bytes(word, kQuote)) << (8 * i);
      classes.ends |= gather(ends) << (8 * i);
    }
    classes.non_ascii = (seen & kHigh) != 0;
    return classes;
  }

 private:
  static constexpr std::uint64_t kQuote = repeat('"');
  static constexpr std::uint64_t kCr = repeat('\r');
  static constexpr std::uint64_t kLf = repeat('\n');
  std::uint64_t separator_;
};

inline std::uint64_t prefix_xor(std::uint64_t x) { return bits::prefix_xor(x); }
inline int count_bits(std::uint64_t x) { return bits::count(x); }
inline int lowest_bit(std::uint64_t x) { return bits::lowest(x); }

}  // namespace

#include "core/table/structural_scan_kernel.h"

#undef FEROLIN_SCAN_TARGET

}  // namespace ferolin::table::scan::scalar
