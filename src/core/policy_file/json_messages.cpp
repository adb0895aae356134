#include "core/policy_file/json_messages.h"

#include <cstdio>

#include "core/number_format.h"

namespace ferolin::policy_file {
namespace {

// Quotes `text` with backslash escapes for the quote, the backslash and the
// control characters, so that a message stays on one line.
std::string quoted_for_message(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char escaped[16];
          std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::string library_description(const nlohmann::json::exception& error) {
  std::string text = error.what();
  if (text.starts_with("[json.exception.")) {
    const std::size_t close = text.find("] ");
    if (close != std::string::npos) text.erase(0, close + 2);
  }
  return text;
}

std::string syntax_error_description(const nlohmann::json::exception& error,
                                     std::string_view last_read) {
  std::string text = library_description(error);
  // The library places its own position before the first ": "; ours, which
  // also covers errors found after parsing, is added by the caller.
  if (text.starts_with("parse error")) {
    const std::size_t colon = text.find(": ");
    if (colon != std::string::npos) text.erase(0, colon + 2);
  }
  const std::string echo = "; last read: '" + std::string(last_read) + "'";
  const std::size_t at = text.find(echo);
  if (at != std::string::npos) text.erase(at, echo.size());
  return text;
}

std::string at_position(std::string description, TextPosition position) {
  description += " at line ";
  description += std::to_string(position.line);
  description += " column ";
  description += std::to_string(position.column);
  return description;
}

std::string invalid_type(std::string_view unexpected, std::string_view expected) {
  std::string text = "invalid type: ";
  text += unexpected;
  text += ", expected ";
  text += expected;
  return text;
}

std::string_view json_kind(const JsonValue& value) {
  using Kind = JsonValue::Kind;
  switch (value.kind) {
    case Kind::Null:
      return "null";
    case Kind::Boolean:
      return "boolean";
    case Kind::Integer:
    case Kind::Unsigned:
    case Kind::Float:
      return "number";
    case Kind::String:
      return "string";
    case Kind::Array:
      return "array";
    case Kind::Object:
      return "object";
  }
  return "value";
}

std::string shown_value(const JsonValue& value) {
  using Kind = JsonValue::Kind;
  switch (value.kind) {
    case Kind::Boolean:
      return value.boolean ? "true" : "false";
    case Kind::Integer:
      return std::to_string(value.integer);
    case Kind::Unsigned:
      return std::to_string(value.unsigned_integer);
    case Kind::Float:
      return format_json_number(value.real);
    case Kind::String:
      return quoted_for_message(*value.text);
    case Kind::Null:
    case Kind::Array:
    case Kind::Object:
      break;
  }
  return {};
}

std::string unexpected_words(const JsonValue& value) {
  using Kind = JsonValue::Kind;
  switch (value.kind) {
    case Kind::Null:
      return "null";
    case Kind::Boolean:
      return "boolean `" + shown_value(value) + "`";
    case Kind::Integer:
    case Kind::Unsigned:
      return "integer `" + shown_value(value) + "`";
    case Kind::Float:
      return "floating point `" + shown_value(value) + "`";
    case Kind::String:
      return "string " + shown_value(value);
    case Kind::Array:
      return "sequence";
    case Kind::Object:
      return "map";
  }
  return "value";
}

}  // namespace ferolin::policy_file
