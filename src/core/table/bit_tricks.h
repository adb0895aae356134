// Bit operations on 64-bit masks written with plain integer arithmetic, for
// the kernels that may not assume the processor's POPCNT or carry-less
// multiply.
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

}  // namespace ferolin::table::bits
