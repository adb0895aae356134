#include "core/calibration/calibrate_policy.h"

#include <utility>

#include "core/calibration/binomial.h"
#include "core/calibration/crc.h"
#include "core/calibration/empirical.h"

namespace ferolin::calibration {

Result<std::optional<double>> choose_threshold(std::span<const RiskCoverageRow> curve,
                                               const CalibrationRequest& request) {
  switch (request.method) {
    case CalibrationMethod::Empirical:
      return empirical::calibrate(curve, request.error_rate);
    case CalibrationMethod::Crc:
      return crc::calibrate(curve, request.error_rate);
    case CalibrationMethod::Binomial:
      if (!request.confidence_level) {
        return std::unexpected(FerolinError::missing_confidence_level());
      }
      return binomial::calibrate(curve, request.error_rate, *request.confidence_level);
  }
  return std::optional<double>();
}

Result<PolicyFile> calibrate_policy(std::span<const RiskCoverageRow> curve,
                                    const CalibrationRequest& request) {
  Result<std::optional<double>> threshold = choose_threshold(curve, request);
  if (!threshold) return std::unexpected(std::move(threshold.error()));
  PolicyFile policy;
  policy.version = kPolicyVersion;
  policy.scoring_method = request.score;
  policy.threshold = threshold->value_or(kNoThreshold);
  policy.target_error_rate = request.error_rate;
  policy.calibration_method = request.method;
  policy.confidence_level = request.confidence_level;
  policy.created_by = kPolicyCreator;
  return policy;
}

}  // namespace ferolin::calibration
