// Random numbers that are the same on every platform and compiler: the
// SplitMix64 and xoshiro256** generators and an unbiased draw below a bound,
// all in fixed 64-bit integer arithmetic. The standard library's
// distributions are not used because their algorithms differ between
// implementations, and a fixed seed must reproduce a bootstrap interval
// anywhere.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace ferolin::stats {

// SplitMix64 (Steele, Lea and Flood, 2014): a 64-bit counter advanced by the
// golden-ratio increment and scrambled by two xor-shift-multiply rounds.
// Used to turn one seed into the state of a larger generator.
struct SplitMix64 {
  static constexpr std::uint64_t kIncrement = 0x9E3779B97F4A7C15ULL;

  std::uint64_t state = 0;

  // Returns the next output and advances the counter.
  constexpr std::uint64_t next() {
    state += kIncrement;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
};

// xoshiro256** (Blackman and Vigna, 2018): 256 bits of state, period
// 2^256 - 1; the state must not be all zero.
struct Xoshiro256StarStar {
  std::array<std::uint64_t, 4> s{};

  // Returns the generator whose four state words are the next four outputs
  // of SplitMix64 from `seeder` (never all zero: SplitMix64's scrambling is
  // a bijection, so four successive outputs hold at most one zero).
  static constexpr Xoshiro256StarStar seeded_by(SplitMix64 seeder) {
    Xoshiro256StarStar generator;
    for (std::uint64_t& word : generator.s) word = seeder.next();
    return generator;
  }

  // Returns the next output and advances the state.
  constexpr std::uint64_t next() {
    const std::uint64_t result = std::rotl(s[1] * 5, 7) * 9;
    const std::uint64_t shifted = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= shifted;
    s[3] = std::rotl(s[3], 45);
    return result;
  }
};

// Returns a uniform integer in [0, bound) for `bound` > 0, by Lemire's
// multiply-shift (2019): the high word of next() * bound, with the rare
// products whose low word falls in the biased remainder drawn again, so that
// every value is exactly equally likely. The remainder 2^64 mod bound is
// computed only when the low word is below `bound`.
template <typename Generator>
[[nodiscard]] constexpr std::uint64_t uniform_below(Generator& generator, std::uint64_t bound) {
  unsigned __int128 product = static_cast<unsigned __int128>(generator.next()) * bound;
  auto low = static_cast<std::uint64_t>(product);
  if (low < bound) {
    const std::uint64_t remainder = (0 - bound) % bound;  // 2^64 mod bound
    while (low < remainder) {
      product = static_cast<unsigned __int128>(generator.next()) * bound;
      low = static_cast<std::uint64_t>(product);
    }
  }
  return static_cast<std::uint64_t>(product >> 64);
}

}  // namespace ferolin::stats
