// Writing policy files. The whole text is built before the file is touched,
// so a string that cannot be written fails without harming an old file.
#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "core/number_format.h"
#include "core/os/file_replace.h"
#include "core/os/path_text.h"
#include "core/policy_file/json_messages.h"
#include "core/policy_file/policy_fields.h"
#include "core/policy_file/policy_json.h"

namespace ferolin::policy_file {
namespace {

// The entries of one object, laid out with two spaces per level.
class ObjectText {
 public:
  explicit ObjectText(int level) : level_(level) {}

  void add(std::string_view quoted_key, std::string_view value) {
    text_ += entries_ == 0 ? "{\n" : ",\n";
    text_.append(static_cast<std::size_t>(2 * (level_ + 1)), ' ');
    text_ += quoted_key;
    text_ += ": ";
    text_ += value;
    ++entries_;
  }

  // Returns the object's text; "{}" when it has no entry.
  std::string finish() && {
    if (entries_ == 0) return "{}";
    text_ += '\n';
    text_.append(static_cast<std::size_t>(2 * level_), ' ');
    text_ += '}';
    return std::move(text_);
  }

 private:
  int level_;
  int entries_ = 0;
  std::string text_;
};

// Returns `text` as a JSON string: escapes for the quote, the backslash and
// control characters (lowercase \u00xx), other characters as plain UTF-8.
Result<std::string> json_string(std::string_view text) {
  try {
    return nlohmann::json(text).dump();
  } catch (const nlohmann::json::exception& error) {
    // Thrown for text that is not UTF-8.
    return std::unexpected(FerolinError::json(library_description(error)));
  }
}

// Policy names and keys need no escapes.
std::string name_text(std::string_view name) {
  std::string text;
  text.reserve(name.size() + 2);
  text += '"';
  text += name;
  text += '"';
  return text;
}

std::string number_text(double value) {
  return std::isfinite(value) ? format_json_number(value) : "null";
}

// Adds the entry of `field` under its key.
void add(ObjectText& object, PolicyField field, std::string_view value) {
  object.add(name_text(field_name(field)), value);
}

// Labels are sorted so that writing the same policy twice gives the same
// bytes.
Result<std::string> group_thresholds_text(const GroupThresholds& groups) {
  std::vector<const std::pair<const std::string, double>*> entries;
  entries.reserve(groups.size());
  for (const auto& entry : groups) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(),
            [](const auto* a, const auto* b) { return a->first < b->first; });
  ObjectText object(1);
  for (const auto* entry : entries) {
    const Result<std::string> label = json_string(entry->first);
    if (!label) return std::unexpected(label.error());
    object.add(*label, number_text(entry->second));
  }
  return std::move(object).finish();
}

// Returns the extra key's value re-laid in the file's layout, one level in.
Result<std::string> extra_value_text(const ExtraKey& extra) {
  if (field_from_name(extra.key)) {
    return std::unexpected(FerolinError::invalid_argument("the extra key '" + extra.key +
                                                          "' is a key of the policy itself"));
  }
  try {
    // ordered_json keeps the keys in the order the caller wrote them.
    const std::string text = nlohmann::ordered_json::parse(extra.json).dump(2);
    std::string indented;
    for (const char c : text) {
      indented += c;
      if (c == '\n') indented += "  ";
    }
    return indented;
  } catch (const nlohmann::json::parse_error& error) {
    return std::unexpected(
        FerolinError::invalid_argument("the value of the extra key '" + extra.key +
                                       "' is not JSON: " + library_description(error)));
  } catch (const nlohmann::json::exception& error) {
    // Thrown by dump for text that is not UTF-8.
    return std::unexpected(FerolinError::json(library_description(error)));
  }
}

}  // namespace

Result<std::string> policy_to_json_text(const PolicyFile& value, std::span<const ExtraKey> extra) {
  const Result<std::string> version = json_string(value.version);
  if (!version) return std::unexpected(version.error());
  const Result<std::string> created_by = json_string(value.created_by);
  if (!created_by) return std::unexpected(created_by.error());
  ObjectText object(0);
  add(object, PolicyField::Version, *version);
  add(object, PolicyField::ScoringMethod,
      name_text(value.confidence_column ? kConfidenceColumnMethod
                                        : policy_name(value.scoring_method)));
  add(object, PolicyField::Threshold, number_text(value.threshold));
  add(object, PolicyField::TargetErrorRate, number_text(value.target_error_rate));
  add(object, PolicyField::CalibrationMethod, name_text(policy_name(value.calibration_method)));
  add(object, PolicyField::ConfidenceLevel,
      value.confidence_level ? number_text(*value.confidence_level) : "null");
  add(object, PolicyField::CreatedBy, *created_by);
  if (value.confidence_column) {
    const Result<std::string> column = json_string(value.confidence_column->column);
    if (!column) return std::unexpected(column.error());
    object.add(name_text("confidence_col"), *column);
    object.add(name_text("lower_is_better"),
               value.confidence_column->lower_is_better ? "true" : "false");
  }
  if (value.group_col) {
    const Result<std::string> group_col = json_string(*value.group_col);
    if (!group_col) return std::unexpected(group_col.error());
    add(object, PolicyField::GroupCol, *group_col);
  }
  if (value.group_thresholds) {
    const Result<std::string> groups = group_thresholds_text(*value.group_thresholds);
    if (!groups) return std::unexpected(groups.error());
    add(object, PolicyField::GroupThresholds, *groups);
  }
  for (const ExtraKey& entry : extra) {
    const Result<std::string> key = json_string(entry.key);
    if (!key) return std::unexpected(key.error());
    const Result<std::string> text = extra_value_text(entry);
    if (!text) return std::unexpected(text.error());
    object.add(*key, *text);
  }
  return std::move(object).finish();
}

Result<void> write_json(const PolicyFile& value, std::string_view path,
                        std::span<const ExtraKey> extra, os::InterruptCheck interrupted) {
  const std::optional<std::string> c_path = os::path_for_system(path);
  if (!c_path) return std::unexpected(FerolinError::io(std::string(os::kNulInPath)));
  const Result<std::string> text = policy_to_json_text(value, extra);
  if (!text) return std::unexpected(text.error());
  return os::replace_file_text(*c_path, *text, std::move(interrupted));
}

}  // namespace ferolin::policy_file
