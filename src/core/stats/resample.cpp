#include "core/stats/resample.h"

#include <algorithm>

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

void count_resample(const LabelledCells& cells, std::uint64_t seed, std::uint64_t replicate,
                    std::span<std::uint32_t> counts) {
  std::fill(counts.begin(), counts.end(), 0);
  Xoshiro256StarStar generator = replicate_generator(seed, replicate);
  const std::uint64_t n = cells.total;
  const std::uint32_t* cell_of = cells.cell_of.data();
  for (std::uint64_t i = 0; i < n; ++i) ++counts[cell_of[uniform_below(generator, n)]];
}

}  // namespace ferolin::stats
