// Bit operations on 64-bit masks written with plain integer arithmetic, for
// the kernels that may not assume the processor's POPCNT, TZCNT or
// carry-less multiply.
#pragma once

#include <cstdint>

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

}  // namespace ferolin::table::bits
