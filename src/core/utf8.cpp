#include "core/utf8.h"

#include <cstdint>
#include <cstring>

namespace ferolin {
namespace {

struct LeadByte {
  std::size_t length = 0;  // 0: not a valid first byte
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
};

// The second byte's range narrows after E0, ED, F0 and F4: that is what
// rules out overlong forms, surrogates and values above U+10FFFF.
LeadByte classify(unsigned char c) {
  if (c >= 0xC2 && c <= 0xDF) return {2};
  if (c == 0xE0) return {3, 0xA0, 0xBF};
  if (c == 0xED) return {3, 0x80, 0x9F};
  if (c >= 0xE1 && c <= 0xEF) return {3};
  if (c == 0xF0) return {4, 0x90, 0xBF};
  if (c >= 0xF1 && c <= 0xF3) return {4};
  if (c == 0xF4) return {4, 0x80, 0x8F};
  return {};
}

bool is_ascii_word(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080) == 0;
}

bool continues(const unsigned char* p, std::size_t i, std::size_t n, LeadByte lead) {
  if (i + lead.length > n || p[i + 1] < lead.low || p[i + 1] > lead.high) return false;
  for (std::size_t k = 2; k < lead.length; ++k) {
    if ((p[i + k] & 0xC0) != 0x80) return false;
  }
  return true;
}

}  // namespace

bool is_ascii(std::string_view bytes) {
  // A plain loop without an early exit: the compiler vectorizes it.
  unsigned char seen = 0;
  for (const char c : bytes) seen |= static_cast<unsigned char>(c);
  return seen < 0x80;
}

std::optional<std::size_t> utf8_error_offset(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Mostly ASCII text goes eight bytes at a time.
    while (n - i >= sizeof(std::uint64_t) && is_ascii_word(p + i)) i += sizeof(std::uint64_t);
    if (i == n) break;
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const LeadByte lead = classify(p[i]);
    if (lead.length == 0 || !continues(p, i, n, lead)) return i;
    i += lead.length;
  }
  return std::nullopt;
}

}  // namespace ferolin
