#include "core/sip_hash.h"

#include <bit>
#include <chrono>
#include <cstring>
#include <random>

namespace ferolin {
namespace {

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }

  template <int Rounds>
  void absorb(std::uint64_t word) {
    v3 ^= word;
    for (int i = 0; i < Rounds; ++i) round();
    v0 ^= word;
  }
};

// Reads `size` (at most 8) bytes as a little-endian word.
std::uint64_t load_le(const char* bytes, std::size_t size) {
  std::uint64_t word = 0;
  if (size > 0) std::memcpy(&word, bytes, size);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

template <int CompressionRounds, int FinalRounds>
std::uint64_t sip_hash(const SipKey& key, std::string_view bytes) {
  SipState s{key.k0 ^ 0x736f6d6570736575, key.k1 ^ 0x646f72616e646f6d, key.k0 ^ 0x6c7967656e657261,
             key.k1 ^ 0x7465646279746573};
  const char* p = bytes.data();
  const std::size_t whole = bytes.size() & ~std::size_t{7};
  for (std::size_t i = 0; i < whole; i += 8) s.absorb<CompressionRounds>(load_le(p + i, 8));
  const std::uint64_t last =
      (static_cast<std::uint64_t>(bytes.size()) << 56) | load_le(p + whole, bytes.size() - whole);
  s.absorb<CompressionRounds>(last);
  s.v2 ^= 0xff;
  for (int i = 0; i < FinalRounds; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace

SipKey draw_sip_key() {
  try {
    std::random_device device;
    const auto word = [&] {
      return (static_cast<std::uint64_t>(device()) << 32) | static_cast<std::uint64_t>(device());
    };
    return {word(), word()};
  } catch (...) {
    // No system random source: still unpredictable enough to spoil a
    // table prepared in advance.
    const auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto here = reinterpret_cast<std::uintptr_t>(&now);
    return {now * 0x9e3779b97f4a7c15, static_cast<std::uint64_t>(here) ^ std::rotl(now, 29)};
  }
}

std::uint64_t sip_hash_1_3(const SipKey& key, std::string_view bytes) {
  return sip_hash<1, 3>(key, bytes);
}

std::uint64_t sip_hash_2_4(const SipKey& key, std::string_view bytes) {
  return sip_hash<2, 4>(key, bytes);
}

}  // namespace ferolin
