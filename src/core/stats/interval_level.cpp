#include "core/stats/interval_level.h"

#include <array>

#include "core/calibration/binomial.h"
#include "core/number_format.h"

namespace ferolin::stats {
namespace {

struct LevelZ {
  std::uint32_t per_mille;
  double z;
};

// Two-sided level L uses the one-sided quantile at (1 + L) / 2; the first
// four are the quantiles of binomial calibration's table.
constexpr std::array<LevelZ, 5> kLevels = {
    {{800, 1.282}, {900, 1.645}, {950, 1.96}, {980, 2.326}, {990, 2.576}}};

}  // namespace

Result<IntervalLevel> interval_level(double level) {
  const std::uint32_t key = calibration::binomial::level_key(level);
  for (const LevelZ& entry : kLevels) {
    if (entry.per_mille == key) return IntervalLevel{level, key, entry.z};
  }
  return std::unexpected(
      FerolinError::invalid_argument("Unsupported interval level: " + format_plain_decimal(level) +
                                     ". Supported: 0.80, 0.90, 0.95, 0.98, 0.99"));
}

}  // namespace ferolin::stats
