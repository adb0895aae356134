// The nine keys of a policy file: their names and order, which are required,
// and how a scalar JSON value becomes the field of a PolicyFile.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/policy_file/json_value.h"
#include "core/types.h"

namespace ferolin::policy_file {

// In the order of the file, which is also the order of the array form.
enum class PolicyField {
  Version,
  ScoringMethod,
  Threshold,
  TargetErrorRate,
  CalibrationMethod,
  ConfidenceLevel,
  CreatedBy,
  GroupCol,
  GroupThresholds,
};
inline constexpr std::size_t kPolicyFieldCount = 9;
// The array form may leave off the two group fields, nothing else.
inline constexpr std::size_t kArrayFormMinimum = 7;

// Returns the key of `field` ("version", ...).
[[nodiscard]] std::string_view field_name(PolicyField field);
// Returns the field whose key is exactly `name`, if any.
[[nodiscard]] std::optional<PolicyField> field_from_name(std::string_view name);
// Returns true when a file without `field` is malformed.
[[nodiscard]] bool field_required(PolicyField field);
// Returns true for the two enumeration fields, which also take the form
// {"spelling": null}.
[[nodiscard]] bool field_is_enum(PolicyField field);
// Returns what an "invalid type" message says `field` expects: "a string",
// "f64", "enum ScoringMethod", "enum CalibrationMethod" or "a map".
[[nodiscard]] std::string_view expected_words(PolicyField field);

// Sets the enumeration `field` of `policy` from its spelling. Returns the
// "unknown variant" description when the spelling is not one of the field's.
[[nodiscard]] std::optional<std::string> store_variant(PolicyFile& policy, PolicyField field,
                                                       std::string_view spelling);

// Why a value does not fit its field.
struct FieldProblem {
  std::string description;  // "invalid type: ..." or "unknown variant ..."
  bool wrong_type = false;  // the value's JSON type is not the field's
};

// Stores the scalar `value` (a string may be moved from) in `field` of
// `policy`; null makes an optional field absent. Returns the "invalid type"
// or "unknown variant" problem when the value does not fit.
[[nodiscard]] std::optional<FieldProblem> store_scalar(PolicyFile& policy, PolicyField field,
                                                      const JsonValue& value);

}  // namespace ferolin::policy_file
