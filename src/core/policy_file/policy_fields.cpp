#include "core/policy_file/policy_fields.h"

#include <array>
#include <utility>

#include "core/policy_file/json_messages.h"

namespace ferolin::policy_file {
namespace {

using Kind = JsonValue::Kind;

constexpr std::array<std::string_view, kPolicyFieldCount> kFieldNames = {
    "version",          "scoring_method", "threshold", "target_error_rate", "calibration_method",
    "confidence_level", "created_by",     "group_col", "group_thresholds"};

FieldProblem mismatch(const JsonValue& value, PolicyField field) {
  return {invalid_type(unexpected_words(value), expected_words(field)), true};
}

std::optional<FieldProblem> store_string(const JsonValue& value, PolicyField field,
                                         std::string& out) {
  if (value.kind != Kind::String) return mismatch(value, field);
  out = std::move(*value.text);
  return std::nullopt;
}

std::optional<FieldProblem> store_number(const JsonValue& value, PolicyField field, double& out) {
  if (!value.is_number()) return mismatch(value, field);
  out = value.as_double();
  return std::nullopt;
}

// Null makes the optional field absent; any other value is stored as the
// plain field would store it, and leaves the field absent when it does not fit.
template <typename T, typename Store>
std::optional<FieldProblem> store_optional(const JsonValue& value, PolicyField field,
                                           std::optional<T>& out, Store store) {
  if (value.kind == Kind::Null) {
    out.reset();
    return std::nullopt;
  }
  std::optional<FieldProblem> problem = store(value, field, out.emplace());
  if (problem) out.reset();
  return problem;
}

}  // namespace

std::string_view field_name(PolicyField field) {
  return kFieldNames[static_cast<std::size_t>(field)];
}

std::optional<PolicyField> field_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kFieldNames.size(); ++i) {
    if (kFieldNames[i] == name) return static_cast<PolicyField>(i);
  }
  return std::nullopt;
}

bool field_required(PolicyField field) {
  return field != PolicyField::ConfidenceLevel && field != PolicyField::GroupCol &&
         field != PolicyField::GroupThresholds;
}

bool field_is_enum(PolicyField field) {
  return field == PolicyField::ScoringMethod || field == PolicyField::CalibrationMethod;
}

std::string_view expected_words(PolicyField field) {
  switch (field) {
    case PolicyField::ScoringMethod:
      return "enum ScoringMethod";
    case PolicyField::CalibrationMethod:
      return "enum CalibrationMethod";
    case PolicyField::Threshold:
    case PolicyField::TargetErrorRate:
    case PolicyField::ConfidenceLevel:
      return "f64";
    case PolicyField::GroupThresholds:
      return "a map";
    case PolicyField::Version:
    case PolicyField::CreatedBy:
    case PolicyField::GroupCol:
      break;
  }
  return "a string";
}

std::optional<std::string> store_variant(PolicyFile& policy, PolicyField field,
                                         std::string_view spelling) {
  if (field == PolicyField::ScoringMethod) {
    if (const auto method = scoring_method_from_policy_name(spelling)) {
      policy.scoring_method = *method;
      return std::nullopt;
    }
    return unknown_scoring_variant(spelling);
  }
  if (const auto method = calibration_method_from_policy_name(spelling)) {
    policy.calibration_method = *method;
    return std::nullopt;
  }
  return unknown_calibration_variant(spelling);
}

std::optional<FieldProblem> store_scalar(PolicyFile& policy, PolicyField field,
                                         const JsonValue& value) {
  switch (field) {
    case PolicyField::Version:
      return store_string(value, field, policy.version);
    case PolicyField::CreatedBy:
      return store_string(value, field, policy.created_by);
    case PolicyField::GroupCol:
      return store_optional(value, field, policy.group_col, store_string);
    case PolicyField::Threshold:
      return store_number(value, field, policy.threshold);
    case PolicyField::TargetErrorRate:
      return store_number(value, field, policy.target_error_rate);
    case PolicyField::ConfidenceLevel:
      return store_optional(value, field, policy.confidence_level, store_number);
    case PolicyField::ScoringMethod:
    case PolicyField::CalibrationMethod:
      if (value.kind != Kind::String) return mismatch(value, field);
      if (std::optional<std::string> unknown = store_variant(policy, field, *value.text)) {
        return FieldProblem{std::move(*unknown)};
      }
      return std::nullopt;
    case PolicyField::GroupThresholds:
      if (value.kind != Kind::Null) return mismatch(value, field);
      policy.group_thresholds.reset();
      return std::nullopt;
  }
  return mismatch(value, field);
}

}  // namespace ferolin::policy_file
