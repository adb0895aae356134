// Reading policy files: the JSON library's SAX parser, fed through a source
// that counts lines and columns, drives PolicySaxHandler.
#include <nlohmann/json.hpp>
#include <utility>

#include "core/os/file_reader.h"
#include "core/policy_file/json_messages.h"
#include "core/policy_file/policy_json.h"
#include "core/policy_file/policy_sax_handler.h"
#include "core/policy_file/text_source.h"

namespace ferolin::policy_file {
namespace {

bool is_json_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Returns the error for a byte other than whitespace after the value.
std::optional<FerolinError> trailing_characters(TextSource& source) {
  while (!source.at_end()) {
    const char c = source.peek();
    source.advance();
    if (!is_json_whitespace(c)) {
      return FerolinError::json(at_position("trailing characters", source.position()));
    }
  }
  return std::nullopt;
}

// Returns the error of a failed read: the system's text, without a
// position. The parser took the failure for the end of the text, so this
// error comes before any the parser reported.
std::optional<FerolinError> read_failure(const TextSource& source) {
  if (!source.read_error()) return std::nullopt;
  return FerolinError::json(*source.read_error());
}

Result<PolicyFile> convert(TextSource& source, PolicyMethods methods) {
  PolicySaxHandler handler(source, methods == PolicyMethods::WithConfidenceColumn);
  // A skipped value may hold numbers too large for the parser to convert.
  source.stand_in_for_numbers_while([&handler] { return handler.skips_value(); });
  try {
    // Not strict: trailing bytes are checked below, with our wording and
    // position.
    nlohmann::json::sax_parse(source.begin(), TextSource::end(), &handler,
                              nlohmann::json::input_format_t::json, /*strict=*/false);
  } catch (const nlohmann::json::exception& error) {
    return std::unexpected(FerolinError::json(library_description(error)));
  }
  if (auto failure = read_failure(source)) return std::unexpected(*failure);
  if (handler.error()) return std::unexpected(*handler.error());
  if (!handler.finished()) {
    return std::unexpected(
        FerolinError::json(at_position("incomplete document", source.position())));
  }
  std::optional<FerolinError> trailing = trailing_characters(source);
  if (auto failure = read_failure(source)) trailing = failure;
  if (trailing) return std::unexpected(*trailing);
  return handler.take_policy();
}

Result<PolicyFile> convert_and_check(TextSource& source, PolicyMethods methods) {
  Result<PolicyFile> policy = convert(source, methods);
  if (policy && policy->version != kPolicyVersion) {
    return std::unexpected(FerolinError::unknown_policy_version(policy->version));
  }
  return policy;
}

}  // namespace

Result<PolicyFile> parse_policy(std::span<const char> bytes, PolicyMethods methods) {
  TextSource source(bytes);
  return convert_and_check(source, methods);
}

Result<PolicyFile> read_policy(std::string_view path, os::InterruptCheck interrupted,
                               PolicyMethods methods) {
  Result<os::FileReader> reader = os::FileReader::open(path, std::move(interrupted));
  // The file reader words its failures as the table reader reports them; a
  // policy file that cannot be opened is an IO error with the same text.
  if (!reader) return std::unexpected(FerolinError::io(std::move(reader.error().detail)));
  TextSource source(std::move(*reader));
  return convert_and_check(source, methods);
}

}  // namespace ferolin::policy_file
