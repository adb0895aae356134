// Whole words of a cell at once: the quick check of the plain decimals that
// fill almost every number cell of a table (digits with at most one point).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace ferolin::table::decimal_words {

inline constexpr std::uint64_t kHighBits = 0x8080808080808080;
inline constexpr std::uint64_t kLowBits = 0x7f7f7f7f7f7f7f7f;

constexpr std::uint64_t each_byte(unsigned char c) { return 0x0101010101010101 * c; }

// Reads bytes little-endian, so that byte i of the text is bits 8i to 8i + 7
// whatever the machine's byte order.
template <typename Word>
inline std::uint64_t load_le(const char* at) {
  Word word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

// The bytes of a word that are digits or points: the high bit of each
// byte that is neither (`other`), and of each point.
struct ByteClasses {
  std::uint64_t other;
  std::uint64_t points;
};

// The low seven bits of a byte plus 0x50 reach 0x80 from '0' on, plus 0x46
// from '9' + 1 on, and a byte equal to '.' leaves 0 after the xor; none of
// the sums carries into the next byte.
inline ByteClasses classify(std::uint64_t word) {
  const std::uint64_t low = word & kLowBits;
  const std::uint64_t digits =
      (low + each_byte(0x80 - '0')) & ~(low + each_byte(0x7f - '9')) & ~word & kHighBits;
  const std::uint64_t x = word ^ each_byte('.');
  const std::uint64_t points = ~(((x & kLowBits) + kLowBits) | x) & kHighBits;
  return {(digits | points) ^ kHighBits, points};
}

// Gathers the high bits of a word's bytes into bits 0 to 7.
inline std::uint64_t gather_high_bits(std::uint64_t high_bits) {
  return ((high_bits >> 7) * 0x0102040810204080) >> 56;
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
        classify(load_le<std::uint32_t>(p) | load_le<std::uint32_t>(p + n - 4) << 32);
    other = classes.other;
    const std::uint64_t gathered = gather_high_bits(classes.points);
    points = (gathered & 0xf) | (gathered >> 4) << (n - 4);
  } else {
    for (std::size_t at = 0;; at += 8) {
      if (at + 8 > n) at = n - 8;
      const ByteClasses classes = classify(load_le<std::uint64_t>(p + at));
      other |= classes.other;
      points |= gather_high_bits(classes.points) << at;
      if (at + 8 == n) break;
    }
  }
  if (other != 0) return std::nullopt;
  return (points & (points - 1)) == 0;
}

}  // namespace ferolin::table::decimal_words
