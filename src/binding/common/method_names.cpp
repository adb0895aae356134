#include "binding/common/method_names.h"

#include <string>

#include "binding/common/errors.h"
#include "core/score_names.h"

namespace ferolin::binding {

std::optional<ScoringMethod> parse_score(std::string_view name) {
  if (std::optional<ScoringMethod> method = scoring_method_from_score_name(name)) return method;
  raise_value_error(unknown_score_name(name));
  return std::nullopt;
}

std::optional<CalibrationMethod> parse_calibration_method(std::string_view name) {
  if (std::optional<CalibrationMethod> method = calibration_method_from_policy_name(name)) {
    return method;
  }
  raise_value_error("Unknown calibration method '" + std::string(name) +
                    "'. Valid: empirical, binomial, crc");
  return std::nullopt;
}

}  // namespace ferolin::binding
