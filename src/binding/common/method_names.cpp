#include "binding/common/method_names.h"

#include <string>

#include "binding/common/errors.h"
#include "core/argument_names.h"

namespace ferolin::binding {

std::optional<ScoringMethod> parse_score(std::string_view name) {
  if (std::optional<ScoringMethod> method = scoring_method_from_argument(name)) return method;
  raise_value_error(unknown_score_method(name));
  return std::nullopt;
}

std::optional<CalibrationMethod> parse_calibration_method(std::string_view name) {
  if (std::optional<CalibrationMethod> method = calibration_method_from_argument(name)) {
    return method;
  }
  raise_value_error(unknown_calibration_method(name));
  return std::nullopt;
}

}  // namespace ferolin::binding
