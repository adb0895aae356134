#include "binding/common/method_names.h"

#include <string>

#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "core/argument_names.h"

namespace ferolin::binding {

std::optional<ScoringMethod> parse_score(std::string_view name) {
  if (std::optional<ScoringMethod> method = scoring_method_from_argument(name)) return method;
  raise_value_error(unknown_score_method(name));
  return std::nullopt;
}

std::optional<std::vector<ScoringMethod>> parse_score_list(PyObject* list) {
  std::vector<ScoringMethod> methods;
  for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
    const std::optional<std::string_view> name = to_text(PyList_GetItem(list, i));
    if (!name) return std::nullopt;
    const std::optional<ScoringMethod> method = parse_score(*name);
    if (!method) return std::nullopt;
    methods.push_back(*method);
  }
  return methods;
}

std::optional<CalibrationMethod> parse_calibration_method(std::string_view name) {
  if (std::optional<CalibrationMethod> method = calibration_method_from_argument(name)) {
    return method;
  }
  raise_value_error(unknown_calibration_method(name));
  return std::nullopt;
}

}  // namespace ferolin::binding
