#include "core/calibration/binomial.h"

#include <array>
#include <cmath>

#include "core/calibration/widest_row.h"

namespace ferolin::calibration::binomial {
namespace {

struct LevelZ {
  std::uint32_t key;
  double z;
};

constexpr std::array<LevelZ, 4> kZTable = {{{900, 1.282}, {950, 1.645}, {975, 1.96}, {990, 2.326}}};

constexpr double kMaxKey = 4294967295.0;

// The Wilson score interval as (centre ± half_width) / denominator.
struct WilsonTerms {
  double half_width;
  double centre;
  double denominator;
};

// The operations stay in this order and grouping: the thresholds stored in
// policies depend on the last bit of the bound.
WilsonTerms wilson_terms(std::uint64_t accepted, std::uint64_t errors, double z) {
  const double n = static_cast<double>(accepted);
  const double z2 = z * z;
  const double p = static_cast<double>(errors) / n;
  const double a = (1.0 - p) * p / n;
  const double b = z2 / ((n * 4.0) * n);
  const double root = std::sqrt(b + a) * z;
  const double c = p + z2 / (n * 2.0);
  const double d = 1.0 + z2 / n;
  return {root, c, d};
}

}  // namespace

std::uint32_t level_key(double level) {
  const double scaled = std::round(level * 1000.0);
  // Written so that NaN falls into the first branch.
  if (!(scaled > 0.0)) return 0;
  if (scaled >= kMaxKey) return static_cast<std::uint32_t>(kMaxKey);
  return static_cast<std::uint32_t>(scaled);
}

std::optional<double> z_value(double level) {
  const std::uint32_t key = level_key(level);
  for (const LevelZ& entry : kZTable) {
    if (entry.key == key) return entry.z;
  }
  return std::nullopt;
}

double wilson_upper_bound(std::uint64_t accepted, std::uint64_t errors, double z) {
  const WilsonTerms terms = wilson_terms(accepted, errors, z);
  return (terms.half_width + terms.centre) / terms.denominator;
}

double wilson_lower_bound(std::uint64_t accepted, std::uint64_t errors, double z) {
  const WilsonTerms terms = wilson_terms(accepted, errors, z);
  return (terms.centre - terms.half_width) / terms.denominator;
}

Result<std::optional<double>> calibrate(std::span<const RiskCoverageRow> curve, double target,
                                        double level) {
  const std::optional<double> z = z_value(level);
  if (!z) return std::unexpected(FerolinError::unsupported_confidence_level(level));
  return widest_passing_threshold(curve, [target, z = *z](const RiskCoverageRow& row) {
    return row.accepted > 0 && wilson_upper_bound(row.accepted, row.errors, z) <= target;
  });
}

}  // namespace ferolin::calibration::binomial
