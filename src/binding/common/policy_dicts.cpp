#include "binding/common/policy_dicts.h"

#include <array>
#include <string>

#include "binding/common/convert.h"
#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 7> kPolicyKeys = {
    "version",          "scoring_method", "threshold", "target_error_rate", "calibration_method",
    "confidence_level", "created_by"};

std::optional<std::string> required_text(PyObject* dict, const char* key) {
  std::optional<PyRef> value = required_dict_item(dict, key);
  if (!value) return std::nullopt;
  const std::optional<std::string_view> text = to_text(value->get());
  if (!text) return std::nullopt;
  return std::string(*text);
}

std::optional<double> required_float(PyObject* dict, const char* key) {
  std::optional<PyRef> value = required_dict_item(dict, key);
  if (!value) return std::nullopt;
  return to_double(value->get());
}

}  // namespace

PyRef policy_to_dict(const PolicyFile& policy) {
  std::optional<DictKeys<7>> keys = DictKeys<7>::make(kPolicyKeys);
  if (!keys) return {};
  return build_dict(*keys, {
                               text(policy.version),
                               text(policy_name(policy.scoring_method)),
                               PyRef::steal(PyFloat_FromDouble(policy.threshold)),
                               PyRef::steal(PyFloat_FromDouble(policy.target_error_rate)),
                               text(policy_name(policy.calibration_method)),
                               optional_float(policy.confidence_level),
                               text(policy.created_by),
                           });
}

std::optional<PolicyFile> dict_to_policy(PyObject* dict) {
  PolicyFile policy;
  const std::optional<std::string> scoring = required_text(dict, "scoring_method");
  if (!scoring) return std::nullopt;
  const std::optional<ScoringMethod> scoring_method = scoring_method_from_policy_name(*scoring);
  if (!scoring_method) {
    raise_runtime_error(unknown_scoring_variant(*scoring));
    return std::nullopt;
  }
  const std::optional<std::string> calibration = required_text(dict, "calibration_method");
  if (!calibration) return std::nullopt;
  const std::optional<CalibrationMethod> calibration_method =
      calibration_method_from_policy_name(*calibration);
  if (!calibration_method) {
    raise_runtime_error(unknown_calibration_variant(*calibration));
    return std::nullopt;
  }
  std::optional<PyRef> level = dict_item(dict, "confidence_level");
  if (!level) return std::nullopt;
  if (*level && level->get() != Py_None) {
    policy.confidence_level = to_double(level->get());
    if (!policy.confidence_level) return std::nullopt;
  }
  std::optional<std::string> version = required_text(dict, "version");
  if (!version) return std::nullopt;
  const std::optional<double> threshold = required_float(dict, "threshold");
  if (!threshold) return std::nullopt;
  const std::optional<double> target = required_float(dict, "target_error_rate");
  if (!target) return std::nullopt;

  policy.version = std::move(*version);
  policy.scoring_method = *scoring_method;
  policy.threshold = *threshold;
  policy.target_error_rate = *target;
  policy.calibration_method = *calibration_method;
  policy.created_by = kPolicyCreator;
  return policy;
}

}  // namespace ferolin::binding
