// HuffmanCode: a canonical Huffman code of deflate (RFC 1951, 3.2.2) built
// from its code lengths, decoding short codes by one table lookup and the
// rare long ones bit by bit.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "input/deflate_bits.h"

namespace ferolin::tools {

class HuffmanCode {
 public:
  static constexpr unsigned kMaxBits = 15;

  // Builds the code of `lengths` (one per symbol, 0 for unused, at most
  // 288). Returns false for a code zlib refuses: over-subscribed, or
  // incomplete beyond what `allow_incomplete` permits (a lone code of one
  // bit, or no code at all, as zlib allows for literals and distances).
  [[nodiscard]] bool build(std::span<const std::uint8_t> lengths, bool allow_incomplete);

  // Returns the next symbol of `bits`, taking its code, or -1 for a bit
  // pattern that codes nothing.
  [[nodiscard]] int decode(DeflateBits& bits) const {
    const std::uint16_t entry = fast_[bits.peek(kFastBits)];
    if (entry != 0) {
      bits.skip(entry & 15u);
      return entry >> 4;
    }
    return decode_slowly(bits);
  }

 private:
  static constexpr unsigned kFastBits = 10;

  [[nodiscard]] int decode_slowly(DeflateBits& bits) const;

  // Entry: symbol << 4 | code length; 0 where the code is longer than
  // kFastBits bits or unused.
  std::array<std::uint16_t, std::size_t{1} << kFastBits> fast_{};
  std::array<std::uint16_t, kMaxBits + 1> count_{};  // codes of each length
  std::array<std::uint16_t, 288> sorted_{};          // symbols in canonical order
};

}  // namespace ferolin::tools
