// PolicySaxHandler: receives the events of the JSON library's SAX parser and
// builds a PolicyFile from the object form or the array form of a policy
// document. It stops the parse at the first value that does not fit, with a
// description and the position of that value. Values under unknown keys are
// skipped by counting depth, so nesting of any depth costs no stack.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/error.h"
#include "core/policy_file/json_value.h"
#include "core/policy_file/policy_fields.h"
#include "core/policy_file/text_source.h"
#include "core/types.h"

namespace ferolin::policy_file {

class PolicySaxHandler {
 public:
  // `source` is the source the parser reads, asked for positions; with
  // `confidence_column`, the handler also takes kConfidenceColumnMethod
  // as a scoring method and reads its "confidence_col" and "lower_is_better".
  explicit PolicySaxHandler(TextSource& source, bool confidence_column = false)
      : source_(source), confidence_column_(confidence_column) {}

  // The SAX interface of nlohmann::json; each returns false to stop.
  bool null();
  bool boolean(bool value);
  bool number_integer(std::int64_t value);
  bool number_unsigned(std::uint64_t value);
  bool number_float(double value, const std::string& text);
  bool string(std::string& value);
  bool binary(nlohmann::json::binary_t& value);
  bool start_object(std::size_t elements);
  bool key(std::string& name);
  bool end_object();
  bool start_array(std::size_t elements);
  bool end_array();
  bool parse_error(std::size_t byte, const std::string& last_read,
                   const nlohmann::json::exception& error);

  // Returns the error that stopped the parse, if one did.
  [[nodiscard]] const std::optional<FerolinError>& error() const { return error_; }
  // Returns true while the value being read, or the next one, is skipped:
  // one under an unknown key or beyond the last field of the array form.
  [[nodiscard]] bool skips_value() const;
  // Returns true once a whole document has been converted.
  [[nodiscard]] bool finished() const { return expect_ == Expect::Finished; }
  // Returns the converted record; only when finished().
  [[nodiscard]] PolicyFile take_policy() { return std::move(policy_); }

 private:
  // What the next event means.
  enum class Expect {
    Document,    // the top-level value
    ObjectKey,   // a key of the top-level object, or its end
    FieldValue,  // the value of `field_`; in the array form, the next element
    EnumKey,     // the spelling in {"spelling": null}
    EnumUnit,    // the null in {"spelling": null}
    EnumClose,   // the end of {"spelling": null}
    GroupKey,    // a group label, or the end of the group map
    GroupValue,  // the threshold of `group_label_`
    OwnValue,    // the value of "confidence_col" or "lower_is_better"
    Finished,
  };

  bool on_value(const JsonValue& value);
  bool skipped(const JsonValue& value);
  bool open_document(const JsonValue& value);
  bool field_value(const JsonValue& value);
  bool next_element(const JsonValue& value);
  bool enum_unit(const JsonValue& value);
  bool group_value(const JsonValue& value);
  bool own_key(const std::string& name);
  bool own_value(const JsonValue& value);
  bool own_method(const JsonValue& value);
  bool field_key(const std::string& name);
  bool close_object();
  bool close_document();
  bool close_array();
  void back_to_parent();
  TextPosition value_position(const JsonValue& value) const;
  TextPosition number_position() const;
  bool fail(std::string description, TextPosition position);
  FerolinError type_failure(const JsonValue& value, std::string_view key,
                            std::string_view expected, bool value_known = true) const;
  bool fail_type(const JsonValue& value, std::string_view key, std::string_view expected);

  TextSource& source_;
  PolicyFile policy_;
  std::bitset<kPolicyFieldCount> seen_;
  Expect expect_ = Expect::Document;
  PolicyField field_ = PolicyField::Version;
  bool array_form_ = false;
  std::uint64_t elements_ = 0;
  // The value after an unknown key is skipped; inside it, skip_depth_ counts
  // the arrays and objects that are open.
  bool skip_next_ = false;
  std::uint64_t skip_depth_ = 0;
  std::string group_label_;
  std::string enum_spelling_;  // the key of {"spelling": null}
  bool confidence_column_ = false;
  std::string own_key_;
  std::optional<std::string> own_column_;
  bool own_lower_is_better_ = false;
  // The first of those two values that did not fit, reported only when the
  // policy turns out to be on a confidence column: any other policy skips
  // them as unknown keys, as it always has.
  std::optional<FerolinError> own_problem_;
  std::optional<FerolinError> error_;
};

}  // namespace ferolin::policy_file
