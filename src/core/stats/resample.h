// What one bootstrap resample is: n draws, with replacement, of a uniform
// position among the n labelled queries (numbered as SortedQueries numbers
// them), from a generator of its own that depends only on the seed and the
// replicate's number, so that any replicate can be recomputed alone and on
// any platform.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "core/stats/random.h"

namespace ferolin::stats {

// Returns the generator of replicate `replicate` (0-based): xoshiro256**
// whose state is the SplitMix64 outputs 4r + 1 to 4r + 4 from `seed`.
[[nodiscard]] Xoshiro256StarStar replicate_generator(std::uint64_t seed, std::uint64_t replicate);

// Returns the positions drawn for the replicate: n values uniform_below(n)
// from its generator, in drawing order.
[[nodiscard]] std::vector<std::uint64_t> resample_positions(std::uint64_t n, std::uint64_t seed,
                                                            std::uint64_t replicate);

// Sets counts[p] (n = counts.size() entries) to how often n draws of
// uniform_below(n) from `generator` give p. Returns false when a count
// passed the largest value of Count, which leaves the counts useless.
template <typename Count, typename Generator>
[[nodiscard]] bool count_draws(Generator& generator, std::span<Count> counts) {
  const std::uint64_t n = counts.size();
  std::fill(counts.begin(), counts.end(), Count{0});
  for (std::uint64_t i = 0; i < n; ++i) ++counts[uniform_below(generator, n)];
  // A count that wraps to 0 takes exactly 2^bits from the sum, so a sum
  // short of n tells of it; a test inside the loop above would wait on each
  // increment's memory access.
  std::uint64_t sum = 0;
  for (Count count : counts) sum += count;
  return sum == n;
}

// Returns count_draws with the replicate's generator: the same draws as
// resample_positions(counts.size(), seed, replicate).
template <typename Count>
[[nodiscard]] bool count_resample(std::uint64_t seed, std::uint64_t replicate,
                                  std::span<Count> counts) {
  Xoshiro256StarStar generator = replicate_generator(seed, replicate);
  return count_draws(generator, counts);
}

}  // namespace ferolin::stats
