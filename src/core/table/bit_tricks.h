// Bit operations on 64-bit masks written with plain integer arithmetic, for
// the kernels that may not assume the processor's POPCNT, TZCNT or
// carry-less multiply, and for reading eight bytes of text at once in one
// 64-bit word.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ferolin::table::bits {

// Returns x with bit i set when bits 0..i of x hold an odd number of ones.
[[gnu::always_inline]] inline std::uint64_t prefix_xor(std::uint64_t x) {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  x ^= x << 16;
  x ^= x << 32;
  return x;
}

// Returns the number of set bits of x.
[[gnu::always_inline]] inline int count(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555;
  x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0F;
  return static_cast<int>((x * 0x0101010101010101) >> 56);
}

// Returns the index of the lowest set bit of x, or 63 when x is 0. (The top
// bit keeps the builtin defined for 0, and the compiler from branching on it.)
[[gnu::always_inline]] inline int lowest(std::uint64_t x) {
  return __builtin_ctzll(x | std::uint64_t{1} << 63);
}

// Bytes of text in a word: byte i is bits 8i to 8i + 7.
inline constexpr std::uint64_t kHighBits = 0x8080808080808080;
inline constexpr std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7F;

// Returns a word whose every byte is `c`.
constexpr std::uint64_t each_byte(unsigned char c) { return 0x0101010101010101 * c; }

// Reads `Word` (std::uint32_t or std::uint64_t) bytes little-endian, so that
// byte i of the text is bits 8i to 8i + 7 whatever the machine's byte order.
template <typename Word>
[[gnu::always_inline]] inline std::uint64_t load_le(const char* at) {
  Word word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

// Returns the bytes of `word` that equal those of `pattern` as the high bit
// of each byte (exact: no borrow crosses from one byte to the next).
[[gnu::always_inline]] inline std::uint64_t equal_bytes(std::uint64_t word, std::uint64_t pattern) {
  const std::uint64_t x = word ^ pattern;
  return ~(((x & kLowBits) + kLowBits) | x | kLowBits);
}

// Gathers the high bits of a word's bytes into bits 0 to 7, byte 0 in bit 0.
[[gnu::always_inline]] inline std::uint64_t gather_high_bits(std::uint64_t high_bits) {
  return ((high_bits >> 7) * 0x0102040810204080) >> 56;
}

}  // namespace ferolin::table::bits
