#include "core/byte_sort.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace ferolin {
namespace {

constexpr std::size_t kPrefixWords = 3;

// A key's first 24 bytes, zero-padded, as big-endian words: comparing the
// words in order compares the bytes as unsigned char. Held inline so that
// most comparisons of a large sort touch no key.
struct PrefixedPosition {
  std::array<std::uint64_t, kPrefixWords> prefix{};
  std::size_t position = 0;
};

std::array<std::uint64_t, kPrefixWords> prefix_of(std::string_view key) {
  std::array<unsigned char, kPrefixWords * 8> bytes{};
  std::memcpy(bytes.data(), key.data(), std::min(key.size(), bytes.size()));
  std::array<std::uint64_t, kPrefixWords> words{};
  for (std::size_t i = 0; i < kPrefixWords; ++i) {
    std::uint64_t word = 0;
    for (std::size_t j = 0; j < 8; ++j) word = (word << 8) | bytes[i * 8 + j];
    words[i] = word;
  }
  return words;
}

}  // namespace

// Unequal prefixes decide the order as the whole keys would: where one key
// ends, its zero padding sorts at or below any byte of the other. Equal
// prefixes fall back to the keys, which std::string_view compares as
// unsigned char.
std::vector<std::size_t> order_by_bytes(std::span<const std::string_view> keys) {
  std::vector<PrefixedPosition> entries(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) entries[i] = {prefix_of(keys[i]), i};
  std::sort(entries.begin(), entries.end(),
            [keys](const PrefixedPosition& a, const PrefixedPosition& b) {
              if (a.prefix != b.prefix) return a.prefix < b.prefix;
              return keys[a.position] < keys[b.position];
            });
  std::vector<std::size_t> order(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) order[i] = entries[i].position;
  return order;
}

}  // namespace ferolin
