// One call from a risk-coverage curve to a calibrated trust policy: the
// threshold that the requested calibration method chooses, kept in a new
// PolicyFile together with the request that produced it.
#pragma once

#include <limits>
#include <optional>
#include <span>

#include "core/error.h"
#include "core/types.h"

namespace ferolin::calibration {

// The threshold a policy gets when no row of the curve qualifies: the largest
// finite double, so that the policy rejects (nearly) everything.
inline constexpr double kNoThreshold = std::numeric_limits<double>::max();

struct CalibrationRequest {
  ScoringMethod score = ScoringMethod::MaxProb;
  double error_rate = 0.0;
  CalibrationMethod method = CalibrationMethod::Empirical;
  std::optional<double> confidence_level;
};

// Returns the threshold the request's method chooses on `curve`, absent when
// no row qualifies; MissingConfidenceLevel for binomial without a level,
// UnsupportedConfidenceLevel for a level binomial does not support.
[[nodiscard]] Result<std::optional<double>> choose_threshold(std::span<const RiskCoverageRow> curve,
                                                             const CalibrationRequest& request);

// Returns the policy ("0.1.0", created by "ferolin") holding the chosen
// threshold, or kNoThreshold; the request's scoring method, error rate,
// calibration method and confidence level (kept whatever the method); no
// groups. Fails as choose_threshold does.
[[nodiscard]] Result<PolicyFile> calibrate_policy(std::span<const RiskCoverageRow> curve,
                                                  const CalibrationRequest& request);

}  // namespace ferolin::calibration
