#include "input/huffman_code.h"

namespace ferolin::tools {

bool HuffmanCode::build(std::span<const std::uint8_t> lengths, bool allow_incomplete) {
  count_.fill(0);
  for (const std::uint8_t length : lengths) ++count_[length];
  count_[0] = 0;
  int left = 1;
  unsigned longest = 0;
  for (unsigned length = 1; length <= kMaxBits; ++length) {
    left = 2 * left - count_[length];
    if (left < 0) return false;
    if (count_[length] != 0) longest = length;
  }
  if (left > 0 && !(allow_incomplete && longest <= 1)) return false;

  std::array<std::uint16_t, kMaxBits + 2> offset{};
  for (unsigned length = 1; length <= kMaxBits; ++length) {
    offset[length + 1] = static_cast<std::uint16_t>(offset[length] + count_[length]);
  }
  fast_.fill(0);
  // Canonical codes: consecutive within a length, in symbol order; the
  // stream holds a code's first bit first, so the table is indexed by the
  // code's bits reversed.
  unsigned code = 0;
  std::array<unsigned, kMaxBits + 1> next_code{};
  for (unsigned length = 1; length <= kMaxBits; ++length) {
    code = (code + count_[length - 1]) << 1;
    next_code[length] = code;
  }
  for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) continue;
    sorted_[offset[length]++] = static_cast<std::uint16_t>(symbol);
    const unsigned this_code = next_code[length]++;
    if (length > kFastBits) continue;
    unsigned reversed = 0;
    for (unsigned i = 0; i < length; ++i) reversed |= ((this_code >> i) & 1u) << (length - 1 - i);
    const auto entry = static_cast<std::uint16_t>(symbol << 4 | length);
    for (unsigned fill = reversed; fill < (1u << kFastBits); fill += 1u << length) {
      fast_[fill] = entry;
    }
  }
  return true;
}

int HuffmanCode::decode_slowly(DeflateBits& bits) const {
  const std::uint64_t pending = bits.peek(kMaxBits);
  int code = 0;
  int first = 0;
  int index = 0;
  for (unsigned length = 1; length <= kMaxBits; ++length) {
    code |= static_cast<int>((pending >> (length - 1)) & 1u);
    const int count = count_[length];
    if (code - count < first) {
      bits.skip(length);
      return sorted_[static_cast<std::size_t>(index + code - first)];
    }
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return -1;
}

}  // namespace ferolin::tools
