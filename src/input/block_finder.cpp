#include "input/block_finder.h"

#include <algorithm>

#include "input/deflate_run.h"

namespace ferolin::tools {
namespace {

// Symbols a trial decoding may produce: enough that random bits which pass
// the header's checks are caught by the faults they soon reach.
constexpr std::size_t kTrialSymbols = std::size_t{1} << 16;

}  // namespace

std::optional<std::uint64_t> find_block_start(const std::uint8_t* data, std::size_t size,
                                              std::uint64_t from_bit, std::uint64_t to_bit) {
  to_bit = std::min(to_bit, std::uint64_t{size} * 8);
  DecodedRun trial;
  RunLimits limits;
  limits.max_symbols = kTrialSymbols;
  for (std::uint64_t bit = from_bit; bit < to_bit; ++bit) {
    if (!dynamic_header_at(data, size, bit)) continue;
    limits.stop_bit = bit + 1;  // one block
    decode_run(data, size, bit, limits, trial);
    const bool plausible = (trial.end == RunEnd::Boundary && trial.blocks == 1) ||
                           trial.end == RunEnd::Final || trial.end == RunEnd::TooLong;
    if (plausible) return bit;
  }
  return std::nullopt;
}

}  // namespace ferolin::tools
