#include "core/policy_file/policy_sax_handler.h"

#include <utility>

#include "core/policy_file/json_messages.h"

namespace ferolin::policy_file {
namespace {

using Kind = JsonValue::Kind;

// The library reports a number too large for a 64-bit float with this id.
constexpr int kNumberOverflowId = 406;

std::string array_length_problem(std::uint64_t length) {
  return "invalid length " + std::to_string(length) + ", expected struct PolicyFile with " +
         std::to_string(kPolicyFieldCount) + " elements";
}

std::string enum_length_problem(int length, PolicyField field) {
  return "invalid length " + std::to_string(length) + ", expected " +
         std::string(expected_words(field)) + " as a map with one key";
}

}  // namespace

bool PolicySaxHandler::null() { return on_value({.kind = Kind::Null}); }

bool PolicySaxHandler::boolean(bool value) {
  return on_value({.kind = Kind::Boolean, .boolean = value});
}

bool PolicySaxHandler::number_integer(std::int64_t value) {
  // The parser reports a number without a minus sign as unsigned, so a
  // signed zero was written "-0": negative zero, as "-0.0" is.
  if (value == 0) return on_value({.kind = Kind::Float, .real = -0.0});
  return on_value({.kind = Kind::Integer, .integer = value});
}

bool PolicySaxHandler::number_unsigned(std::uint64_t value) {
  return on_value({.kind = Kind::Unsigned, .unsigned_integer = value});
}

bool PolicySaxHandler::number_float(double value, const std::string& /*text*/) {
  return on_value({.kind = Kind::Float, .real = value});
}

bool PolicySaxHandler::string(std::string& value) {
  return on_value({.kind = Kind::String, .text = &value});
}

bool PolicySaxHandler::binary(nlohmann::json::binary_t& /*value*/) {
  // JSON text has no binary values; the parser never sends one.
  return false;
}

bool PolicySaxHandler::start_object(std::size_t /*elements*/) {
  return on_value({.kind = Kind::Object});
}

bool PolicySaxHandler::start_array(std::size_t /*elements*/) {
  return on_value({.kind = Kind::Array});
}

bool PolicySaxHandler::key(std::string& name) {
  if (skip_depth_ > 0) return true;
  switch (expect_) {
    case Expect::ObjectKey:
      return field_key(name);
    case Expect::EnumKey:
      if (auto problem = store_variant(policy_, field_, name)) {
        return fail(std::move(*problem), source_.position());
      }
      enum_spelling_ = std::move(name);
      expect_ = Expect::EnumUnit;
      return true;
    case Expect::EnumClose:
      return fail(enum_length_problem(2, field_), source_.position());
    case Expect::GroupKey:
      group_label_ = std::move(name);
      expect_ = Expect::GroupValue;
      return true;
    default:
      return false;  // the parser sends keys only inside objects
  }
}

bool PolicySaxHandler::end_object() {
  if (skip_depth_ > 0) {
    --skip_depth_;
    return true;
  }
  return close_object();
}

bool PolicySaxHandler::end_array() {
  if (skip_depth_ > 0) {
    --skip_depth_;
    return true;
  }
  return close_array();
}

bool PolicySaxHandler::parse_error(std::size_t /*byte*/, const std::string& last_read,
                                   const nlohmann::json::exception& error) {
  // The library found a number too large only after reading one byte past
  // it, like every number; the position is that of its last digit.
  if (error.id == kNumberOverflowId) return fail(library_description(error), number_position());
  std::string description = syntax_error_description(error, last_read);
  // The library takes a NUL byte for the end of the input; only a source
  // that has not ended can have given it one.
  constexpr std::string_view kEnd = "end of input";
  const std::size_t end_at = description.find(kEnd);
  if (!source_.end_seen() && end_at != std::string::npos) {
    description.replace(end_at, kEnd.size(), "NUL byte");
  }
  return fail(std::move(description), source_.position());
}

bool PolicySaxHandler::skips_value() const {
  const bool beyond_last_element =
      array_form_ && expect_ == Expect::FieldValue && elements_ >= kPolicyFieldCount;
  // The two keys of a policy on a column take no number: one too large for
  // a float must not stop a policy that skips them.
  return skip_depth_ > 0 || skip_next_ || beyond_last_element || expect_ == Expect::OwnValue;
}

bool PolicySaxHandler::on_value(const JsonValue& value) {
  if (skipped(value)) return true;
  switch (expect_) {
    case Expect::Document:
      return open_document(value);
    case Expect::FieldValue:
      return field_value(value);
    case Expect::EnumUnit:
      return enum_unit(value);
    case Expect::GroupValue:
      return group_value(value);
    case Expect::OwnValue:
      return own_value(value);
    default:
      return false;  // the parser sends values only where a value stands
  }
}

bool PolicySaxHandler::skipped(const JsonValue& value) {
  if (skip_depth_ > 0) {
    if (value.opens()) ++skip_depth_;
    return true;
  }
  if (!skip_next_) return false;
  skip_next_ = false;
  if (value.opens()) skip_depth_ = 1;
  return true;
}

bool PolicySaxHandler::open_document(const JsonValue& value) {
  if (value.kind == Kind::Object) {
    expect_ = Expect::ObjectKey;
    return true;
  }
  if (value.kind == Kind::Array) {
    array_form_ = true;
    expect_ = Expect::FieldValue;
    return true;
  }
  return fail_type(value, "", "struct PolicyFile");
}

bool PolicySaxHandler::field_value(const JsonValue& value) {
  if (array_form_ && !next_element(value)) return true;
  if (value.kind == Kind::Object && field_is_enum(field_)) {
    expect_ = Expect::EnumKey;
    return true;
  }
  if (value.kind == Kind::Object && field_ == PolicyField::GroupThresholds) {
    policy_.group_thresholds.emplace();
    expect_ = Expect::GroupKey;
    return true;
  }
  if (own_method(value)) {
    back_to_parent();
    return true;
  }
  if (auto problem = store_scalar(policy_, field_, value)) {
    if (problem->wrong_type) return fail_type(value, field_name(field_), expected_words(field_));
    return fail(std::move(problem->description), value_position(value));
  }
  back_to_parent();
  return true;
}

// Counts an element of the array form and selects its field. Returns false
// for an element beyond the last field, which is skipped: the closing of the
// array reports the length.
bool PolicySaxHandler::next_element(const JsonValue& value) {
  ++elements_;
  if (elements_ > kPolicyFieldCount) {
    if (value.opens()) skip_depth_ = 1;
    return false;
  }
  field_ = static_cast<PolicyField>(elements_ - 1);
  seen_.set(static_cast<std::size_t>(field_));
  return true;
}

bool PolicySaxHandler::enum_unit(const JsonValue& value) {
  if (value.kind != Kind::Null) {
    return fail_type(value, enum_spelling_, "unit");
  }
  expect_ = Expect::EnumClose;
  return true;
}

bool PolicySaxHandler::group_value(const JsonValue& value) {
  if (!value.is_number()) {
    return fail_type(value, group_label_, "f64");
  }
  // A label given twice keeps its later threshold.
  (*policy_.group_thresholds)[std::move(group_label_)] = value.as_double();
  expect_ = Expect::GroupKey;
  return true;
}

bool PolicySaxHandler::field_key(const std::string& name) {
  const std::optional<PolicyField> field = field_from_name(name);
  if (!field && own_key(name)) return true;
  if (!field) {
    skip_next_ = true;
    return true;
  }
  const auto index = static_cast<std::size_t>(*field);
  if (seen_.test(index)) return fail("duplicate field `" + name + "`", source_.position());
  seen_.set(index);
  field_ = *field;
  expect_ = Expect::FieldValue;
  return true;
}

bool PolicySaxHandler::close_object() {
  switch (expect_) {
    case Expect::ObjectKey:
      return close_document();
    case Expect::EnumKey:
      return fail(enum_length_problem(0, field_), source_.position());
    case Expect::EnumClose:
    case Expect::GroupKey:
      back_to_parent();
      return true;
    default:
      return false;  // the parser closes only objects that are open
  }
}

bool PolicySaxHandler::close_document() {
  if (policy_.confidence_column) {
    if (own_problem_) {
      error_ = std::move(*own_problem_);
      return false;
    }
    if (!own_column_) return fail("missing field `confidence_col`", source_.position());
    policy_.confidence_column->column = std::move(*own_column_);
    policy_.confidence_column->lower_is_better = own_lower_is_better_;
  }
  for (std::size_t i = 0; i < kPolicyFieldCount; ++i) {
    const auto field = static_cast<PolicyField>(i);
    if (field_required(field) && !seen_.test(i)) {
      return fail("missing field `" + std::string(field_name(field)) + "`", source_.position());
    }
  }
  expect_ = Expect::Finished;
  return true;
}

bool PolicySaxHandler::close_array() {
  if (!array_form_ || expect_ != Expect::FieldValue) return false;
  if (elements_ < kArrayFormMinimum || elements_ > kPolicyFieldCount) {
    return fail(array_length_problem(elements_), source_.position());
  }
  expect_ = Expect::Finished;
  return true;
}

void PolicySaxHandler::back_to_parent() {
  expect_ = array_form_ ? Expect::FieldValue : Expect::ObjectKey;
}

TextPosition PolicySaxHandler::value_position(const JsonValue& value) const {
  return value.is_number() ? number_position() : source_.position();
}

// The parser learns where a number ends by reading the byte after it, unless
// the input ended there.
TextPosition PolicySaxHandler::number_position() const {
  return source_.end_seen() ? source_.position() : source_.previous_position();
}

bool PolicySaxHandler::fail(std::string description, TextPosition position) {
  error_ = FerolinError::json(at_position(std::move(description), position));
  return false;
}

// The failure of a value of the wrong type for `key`, which takes
// `expected`: the message, and the same facts as fields for callers that
// word it themselves. Without `value_known` the value is named by its kind
// alone: it is not the file's (a stand-in for a skipped number).
FerolinError PolicySaxHandler::type_failure(const JsonValue& value, std::string_view key,
                                            std::string_view expected, bool value_known) const {
  const TextPosition position = value_position(value);
  const std::string words = value_known ? unexpected_words(value) : std::string(json_kind(value));
  FerolinError error = FerolinError::json(at_position(invalid_type(words, expected), position));
  error.kind = ErrorKind::JsonType;
  error.json_type = JsonTypeFailure{.key = std::string(key),
                                    .expected = std::string(expected),
                                    .found = std::string(json_kind(value)),
                                    .value = value_known ? shown_value(value) : std::string(),
                                    .line = position.line,
                                    .column = position.column};
  return error;
}

bool PolicySaxHandler::fail_type(const JsonValue& value, std::string_view key,
                                 std::string_view expected) {
  error_ = type_failure(value, key, expected);
  return false;
}

}  // namespace ferolin::policy_file

namespace ferolin::policy_file {

// The keys of a policy on a confidence column, read only by a handler that
// takes such policies; any other reader skips them as unknown keys.
bool PolicySaxHandler::own_key(const std::string& name) {
  if (!confidence_column_ || (name != "confidence_col" && name != "lower_is_better")) {
    return false;
  }
  own_key_ = name;
  expect_ = Expect::OwnValue;
  return true;
}

bool PolicySaxHandler::own_value(const JsonValue& value) {
  const bool column = own_key_ == "confidence_col";
  const JsonValue::Kind wanted = column ? JsonValue::Kind::String : JsonValue::Kind::Boolean;
  if (value.kind != wanted) {
    if (!own_problem_) {
      // The source hands these keys' numbers over as stand-ins (skips_value).
      own_problem_ =
          type_failure(value, own_key_, column ? "a string" : "a boolean", !value.is_number());
    }
    // A value that opens is skipped whole, as under an unknown key.
    if (value.opens()) skip_depth_ = 1;
  } else if (column) {
    own_column_ = std::move(*value.text);
  } else {
    own_lower_is_better_ = value.boolean;
  }
  back_to_parent();
  return true;
}

// Takes kConfidenceColumnMethod as the scoring method where the handler
// accepts it; returns false for every other value.
bool PolicySaxHandler::own_method(const JsonValue& value) {
  if (!confidence_column_ || field_ != PolicyField::ScoringMethod ||
      value.kind != JsonValue::Kind::String || *value.text != kConfidenceColumnMethod) {
    return false;
  }
  policy_.confidence_column.emplace();
  return true;
}

}  // namespace ferolin::policy_file
