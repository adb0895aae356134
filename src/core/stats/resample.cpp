#include "core/stats/resample.h"

namespace ferolin::stats {

Xoshiro256StarStar replicate_generator(std::uint64_t seed, std::uint64_t replicate) {
  // SplitMix64's state after k outputs is seed + k * increment (mod 2^64).
  return Xoshiro256StarStar::seeded_by(SplitMix64{seed + 4 * replicate * SplitMix64::kIncrement});
}

std::vector<std::uint64_t> resample_positions(std::uint64_t n, std::uint64_t seed,
                                              std::uint64_t replicate) {
  Xoshiro256StarStar generator = replicate_generator(seed, replicate);
  std::vector<std::uint64_t> positions(n);
  for (std::uint64_t& position : positions) position = uniform_below(generator, n);
  return positions;
}

}  // namespace ferolin::stats
