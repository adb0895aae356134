#include "core/keyed_hash.h"

#include <time.h>

#include <atomic>
#include <bit>
#include <cerrno>

#include "core/os/syscalls.h"

namespace ferolin {
namespace {

// Reads `count` bytes (at most eight) as a little-endian number.
std::uint64_t little_endian(const char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    value |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  }
  return value;
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13) ^ v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16) ^ v2;
    v0 += v3;
    v3 = std::rotl(v3, 21) ^ v0;
    v2 += v1;
    v1 = std::rotl(v1, 17) ^ v2;
    v2 = std::rotl(v2, 32);
  }

  // One compression round per word.
  void absorb(std::uint64_t word) {
    v3 ^= word;
    round();
    v0 ^= word;
  }
};

// The weak key where the kernel gives none: distinct per call and per run,
// which still keeps one crafted file from colliding in every table.
SipKey fallback_key() {
  static std::atomic<std::uint64_t> counter{0};
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::uint64_t seed[3] = {static_cast<std::uint64_t>(now.tv_sec),
                                 static_cast<std::uint64_t>(now.tv_nsec), ++counter};
  const std::string_view bytes(reinterpret_cast<const char*>(seed), sizeof seed);
  return {sip_hash_1_3({0x0706050403020100, 0x0f0e0d0c0b0a0908}, bytes),
          sip_hash_1_3({0x1716151413121110, 0x1f1e1d1c1b1a1918}, bytes)};
}

}  // namespace

SipKey draw_sip_key() {
  std::uint64_t words[2];
  auto* bytes = reinterpret_cast<unsigned char*>(words);
  std::size_t filled = 0;
  while (filled < sizeof words) {
    const ssize_t got = os::kernel_random_bytes(bytes + filled, sizeof words - filled);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got == 0 || errno != EINTR) {
      return fallback_key();
    }
  }
  return {words[0], words[1]};
}

std::uint64_t sip_hash_1_3(const SipKey& key, std::string_view bytes) {
  SipState state{key.k0 ^ 0x736f6d6570736575, key.k1 ^ 0x646f72616e646f6d,
                 key.k0 ^ 0x6c7967656e657261, key.k1 ^ 0x7465646279746573};
  const std::size_t whole = bytes.size() - bytes.size() % 8;
  for (std::size_t at = 0; at < whole; at += 8) state.absorb(little_endian(bytes.data() + at, 8));
  // The last word holds the remaining bytes and the length's low byte.
  const std::uint64_t length = bytes.size();
  state.absorb(little_endian(bytes.data() + whole, bytes.size() - whole) | length << 56);
  state.v2 ^= 0xff;
  for (int i = 0; i < 3; ++i) state.round();
  return state.v0 ^ state.v1 ^ state.v2 ^ state.v3;
}

}  // namespace ferolin
