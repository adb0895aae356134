// SHA-256 as FIPS 180-4 defines it (sections 4.1.2, 4.2.2, 5.1.1, 5.3.3 and
// 6.2), in runs of 64-byte blocks: with the processor's SHA extensions
// where it has them (about five times as fast, so that fingerprinting a
// table costs a fraction of reading it), else in portable code.
#include "input/sha256.h"

#include <algorithm>
#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/os/cpu_features.h"

namespace ferolin::tools {
namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t big_endian_word(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

void compress_block(std::array<std::uint32_t, 8>& state, const std::uint8_t* block) {
  std::array<std::uint32_t, 64> w;
  for (std::size_t t = 0; t < 16; ++t) w[t] = big_endian_word(block + 4 * t);
  for (std::size_t t = 16; t < 64; ++t) {
    const std::uint32_t s0 = std::rotr(w[t - 15], 7) ^ std::rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 = std::rotr(w[t - 2], 17) ^ std::rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (std::size_t t = 0; t < 64; ++t) {
    const std::uint32_t sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
    const std::uint32_t choose = (e & f) ^ (~e & g);
    const std::uint32_t t1 = h + sum1 + choose + kRoundConstants[t] + w[t];
    const std::uint32_t sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
    const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

void compress_portable(std::array<std::uint32_t, 8>& state, const std::uint8_t* blocks,
                       std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) compress_block(state, blocks + 64 * i);
}

#if defined(__x86_64__)

// The same compression with the SHA extensions. SHA256RNDS2 runs two rounds
// on the state split as (A, B, E, F) and (C, D, G, H), lanes 3 to 0; the
// message words come four to a register, W[4g .. 4g + 3] in lanes 0 to 3.
// The split state stays in registers from one block to the next: moving it
// through memory between blocks would lengthen the chain of rounds, which
// is what bounds the speed.
#define FEROLIN_SHA_TARGET __attribute__((target("sha,sse4.1")))

// Rounds 4g to 4g + 3, with the message words W[4g .. 4g + 3].
FEROLIN_SHA_TARGET inline void four_rounds(__m128i& abef, __m128i& cdgh, __m128i words,
                                           std::size_t g) {
  const __m128i constants =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRoundConstants.data() + 4 * g));
  const __m128i sums = _mm_add_epi32(words, constants);
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sums);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(sums, 0x0E));
}

// W[t] = sigma1(W[t-2]) + W[t-7] + sigma0(W[t-15]) + W[t-16] for the next
// four t, from the previous sixteen words (oldest first).
FEROLIN_SHA_TARGET inline __m128i next_words(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
  const __m128i next = _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4));
  return _mm_sha256msg2_epu32(next, w3);
}

FEROLIN_SHA_TARGET void compress_sha_extensions(std::array<std::uint32_t, 8>& state,
                                                const std::uint8_t* blocks, std::size_t count) {
  const __m128i kBigEndian = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data()));
  const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data() + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (const std::uint8_t* block = blocks; block != blocks + 64 * count; block += 64) {
    const __m128i abef_start = abef;
    const __m128i cdgh_start = cdgh;
    // The last sixteen message words, four to a register, oldest first.
    __m128i w[4];
    for (std::size_t g = 0; g < 4; ++g) {
      const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * g));
      w[g] = _mm_shuffle_epi8(raw, kBigEndian);
      four_rounds(abef, cdgh, w[g], g);
    }
    for (std::size_t g = 4; g < 16; ++g) {
      const __m128i words = next_words(w[0], w[1], w[2], w[3]);
      w[0] = w[1];
      w[1] = w[2];
      w[2] = w[3];
      w[3] = words;
      four_rounds(abef, cdgh, words, g);
    }
    abef = _mm_add_epi32(abef, abef_start);
    cdgh = _mm_add_epi32(cdgh, cdgh_start);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data() + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#undef FEROLIN_SHA_TARGET

#endif

using BlocksFunction = void (*)(std::array<std::uint32_t, 8>&, const std::uint8_t*, std::size_t);

BlocksFunction fastest_blocks_function() {
#if defined(__x86_64__)
  static const bool kHasSha = [] {
    const os::CpuFeatures cpu = os::read_cpu_features();
    return cpu.sha && cpu.ssse3 && cpu.sse41;
  }();
  if (kHasSha) return compress_sha_extensions;
#endif
  return compress_portable;
}

}  // namespace

Sha256::Sha256(Engine engine)
    : compress_(engine == Engine::Portable ? compress_portable : fastest_blocks_function()) {}

bool Sha256::has_fast_engine() { return fastest_blocks_function() != compress_portable; }

void Sha256::update(std::string_view bytes) {
  const auto* in = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t size = bytes.size();
  length_ += size;
  if (pending_size_ > 0) {
    const std::size_t taken = std::min(size, pending_.size() - pending_size_);
    std::copy_n(in, taken, pending_.begin() + static_cast<std::ptrdiff_t>(pending_size_));
    pending_size_ += taken;
    in += taken;
    size -= taken;
    if (pending_size_ < pending_.size()) return;
    compress_(state_, pending_.data(), 1);
    pending_size_ = 0;
  }
  const std::size_t blocks = size / 64;
  if (blocks > 0) compress_(state_, in, blocks);
  in += 64 * blocks;
  size -= 64 * blocks;
  std::copy_n(in, size, pending_.begin());
  pending_size_ = size;
}

Sha256::Digest Sha256::digest() const {
  // Padding: a 1 bit, zeros up to 56 bytes mod 64, then the length in bits.
  Sha256 last = *this;
  const std::uint64_t bits = length_ * 8;
  const std::size_t zeros = (pending_size_ < 56 ? 55 : 119) - pending_size_;
  std::array<std::uint8_t, 72> padding{};
  padding[0] = 0x80;
  for (std::size_t i = 0; i < 8; ++i) {
    padding[1 + zeros + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  }
  last.update(std::string_view(reinterpret_cast<const char*>(padding.data()), 1 + zeros + 8));
  Digest out;
  for (std::size_t i = 0; i < 8; ++i) {
    for (std::size_t j = 0; j < 4; ++j) {
      out[4 * i + j] = static_cast<std::uint8_t>(last.state_[i] >> (24 - 8 * j));
    }
  }
  return out;
}

std::string Sha256::hex_digest() const {
  static constexpr std::string_view kDigits = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : digest()) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xf];
  }
  return text;
}

}  // namespace ferolin::tools
