// Whole words of a cell at once: the quick check of the plain decimals that
// fill almost every number cell of a table (digits with at most one point).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/table/bit_tricks.h"

namespace ferolin::table::decimal_words {

// The bytes of a word that are digits or points: the high bit of each
// byte that is neither (`other`), and of each point.
struct ByteClasses {
  std::uint64_t other;
  std::uint64_t points;
};

// The low seven bits of a byte plus 0x50 reach 0x80 from '0' on, plus 0x46
// from '9' + 1 on; none of the sums carries into the next byte.
inline ByteClasses classify(std::uint64_t word) {
  using bits::each_byte;
  using bits::kHighBits;
  const std::uint64_t low = word & bits::kLowBits;
  const std::uint64_t digits =
      (low + each_byte(0x80 - '0')) & ~(low + each_byte(0x7f - '9')) & ~word & kHighBits;
  const std::uint64_t points = bits::equal_bytes(word, each_byte('.'));
  return {(digits | points) ^ kHighBits, points};
}

// For texts of 4 to 24 bytes, almost every number in a table: returns
// whether all bytes are digits but at most one point, or nothing when other
// bytes occur (a sign, an exponent, a word) and the grammar must decide.
// The text is read in words that overlap where its length is not a multiple
// of 8; the points are gathered into one mask by position, so that a point
// in an overlap counts once.
inline std::optional<bool> digits_with_one_point(std::string_view text) {
  const std::size_t n = text.size();
  if (n < 4 || n > 24) return std::nullopt;
  const char* p = text.data();
  std::uint64_t other = 0;
  std::uint64_t points = 0;  // bit i: byte i is a point
  if (n < 8) {
    // Bytes 0 to 3 in the lower half, n - 4 to n - 1 in the upper.
    const ByteClasses classes =
        classify(bits::load_le<std::uint32_t>(p) | bits::load_le<std::uint32_t>(p + n - 4) << 32);
    other = classes.other;
    const std::uint64_t gathered = bits::gather_high_bits(classes.points);
    points = (gathered & 0xf) | (gathered >> 4) << (n - 4);
  } else {
    for (std::size_t at = 0;; at += 8) {
      if (at + 8 > n) at = n - 8;
      const ByteClasses classes = classify(bits::load_le<std::uint64_t>(p + at));
      other |= classes.other;
      points |= bits::gather_high_bits(classes.points) << at;
      if (at + 8 == n) break;
    }
  }
  if (other != 0) return std::nullopt;
  return (points & (points - 1)) == 0;
}

}  // namespace ferolin::table::decimal_words
