// What one bootstrap resample is: n draws, with replacement, of a uniform
// position among the n labelled queries (in input order), from a generator
// of its own that depends only on the seed and the replicate's number, so
// that any replicate can be recomputed alone and on any platform.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/stats/labelled_cells.h"
#include "core/stats/random.h"

namespace ferolin::stats {

// Returns the generator of replicate `replicate` (0-based): xoshiro256**
// whose state is the SplitMix64 outputs 4r + 1 to 4r + 4 from `seed`.
[[nodiscard]] Xoshiro256StarStar replicate_generator(std::uint64_t seed, std::uint64_t replicate);

// Returns the positions drawn for the replicate: n values uniform_below(n)
// from its generator, in drawing order.
[[nodiscard]] std::vector<std::uint64_t> resample_positions(std::uint64_t n, std::uint64_t seed,
                                                            std::uint64_t replicate);

// Fills `counts` (cells.cells() entries) with how often the replicate's
// draws fall into each cell: the same draws as resample_positions.
void count_resample(const LabelledCells& cells, std::uint64_t seed, std::uint64_t replicate,
                    std::span<std::uint32_t> counts);

}  // namespace ferolin::stats
