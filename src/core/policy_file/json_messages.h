// Texts of the JSON errors that policy files report: the JSON library's own
// descriptions without its decorations, positions, and the words that name a
// value of the wrong type.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/policy_file/json_value.h"
#include "core/policy_file/text_source.h"

namespace ferolin::policy_file {

// Returns the library's description of `error` without its
// "[json.exception.NAME.ID] " tag.
[[nodiscard]] std::string library_description(const nlohmann::json::exception& error);

// Returns the description of a syntax error: the library's text without its
// tag, its "parse error at line L, column C: " lead and its "; last read:
// '...'" echo of the input, which may hold bytes that are not UTF-8.
[[nodiscard]] std::string syntax_error_description(const nlohmann::json::exception& error,
                                                   std::string_view last_read);

// Returns `description` followed by " at line L column C".
[[nodiscard]] std::string at_position(std::string description, TextPosition position);

// Returns "invalid type: {unexpected}, expected {expected}".
[[nodiscard]] std::string invalid_type(std::string_view unexpected, std::string_view expected);

// Returns the JSON kind of `value`: "string", "number", "boolean", "null",
// "array" or "object".
[[nodiscard]] std::string_view json_kind(const JsonValue& value);

// Returns `value` as an "invalid type" message shows it: a string quoted,
// with escapes; a number as written back; true or false; empty for null,
// arrays and objects.
[[nodiscard]] std::string shown_value(const JsonValue& value);

// Returns the words that name `value` in an "invalid type" message:
// "boolean `true`", "integer `-5`", "floating point `1.5`", "string \"x\""
// (quoted, with escapes), "null", "sequence" or "map".
[[nodiscard]] std::string unexpected_words(const JsonValue& value);

}  // namespace ferolin::policy_file
