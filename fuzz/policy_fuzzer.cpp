// Fuzz target: the policy file reader. Whatever the bytes, reading ends with
// a policy or with one error of the documented forms; exactly the JSON texts
// can be accepted, never one that starts with a byte-order mark; a policy
// that was read, written and read back is equal to the first, its text a
// fixed point of writing. The bytes are also tried as the value of an
// unknown key, which any JSON value may be, numbers of any size included,
// and as the threshold, which must read as the nearest 64-bit float of a
// number (negative zero from every spelling) or fail as out of range.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "core/policy_file/policy_json.h"
#include "fuzz_check.h"

namespace ferolin::fuzz {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool same_double(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_policy(const PolicyFile& a, const PolicyFile& b) {
  const bool same_level =
      a.confidence_level.has_value() == b.confidence_level.has_value() &&
      (!a.confidence_level || same_double(*a.confidence_level, *b.confidence_level));
  bool same_groups = a.group_thresholds.has_value() == b.group_thresholds.has_value();
  if (same_groups && a.group_thresholds) {
    same_groups = a.group_thresholds->size() == b.group_thresholds->size();
    for (const auto& [label, threshold] : *a.group_thresholds) {
      const auto found = b.group_thresholds->find(label);
      same_groups = same_groups && found != b.group_thresholds->end() &&
                    same_double(found->second, threshold);
    }
  }
  return a.version == b.version && a.scoring_method == b.scoring_method &&
         same_double(a.threshold, b.threshold) &&
         same_double(a.target_error_rate, b.target_error_rate) &&
         a.calibration_method == b.calibration_method && same_level &&
         a.created_by == b.created_by && a.group_col == b.group_col && same_groups;
}

// "... at line L column C" with L >= 1.
bool ends_with_position(std::string_view text) {
  const std::size_t at = text.rfind(" at line ");
  if (at == std::string_view::npos) return false;
  const std::string_view rest = text.substr(at + 9);
  const std::size_t column = rest.find(" column ");
  if (column == std::string_view::npos || column == 0 || rest.front() == '0') return false;
  const std::string_view line = rest.substr(0, column);
  const std::string_view number = rest.substr(column + 8);
  const auto digits = [](std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
  };
  return digits(line) && digits(number);
}

// Returns true when `text` is one JSON number:
// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool is_json_number(std::string_view text) {
  std::size_t at = 0;
  const auto skip = [&](std::string_view bytes) {
    if (at < text.size() && bytes.find(text[at]) != std::string_view::npos) ++at;
  };
  const auto digits = [&] {
    const std::size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at > from;
  };
  skip("-");
  if (at < text.size() && text[at] == '0') {
    ++at;
  } else if (!digits()) {
    return false;
  }
  if (at < text.size() && text[at] == '.' && (++at, !digits())) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    skip("+-");
    if (!digits()) return false;
  }
  return at == text.size();
}

// Returns `text` with each number outside strings written 0: a run of the
// bytes of literals and numbers that is one whole number.
std::string numbers_as_zero(std::string_view text) {
  constexpr std::string_view kTokenBytes =
      "0123456789.+-abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string out;
  bool in_string = false;
  for (std::size_t at = 0; at < text.size();) {
    const char byte = text[at];
    if (in_string || kTokenBytes.find(byte) == std::string_view::npos) {
      if (in_string && byte == '\\' && at + 1 < text.size()) out += text[at++];
      if (byte == '"') in_string = !in_string;
      out += text[at++];
      continue;
    }
    std::size_t end = text.find_first_not_of(kTokenBytes, at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view run = text.substr(at, end - at);
    out += is_json_number(run) ? std::string_view("0") : run;
    at = end;
  }
  return out;
}

// Returns true when `text` is JSON text: one value, with whitespace around
// it, numbers of any size. The library's check stops at a number out of
// range, skips a byte-order mark and takes a NUL byte for the end.
bool is_json_text(std::string_view text) {
  return !text.starts_with(kBom) && text.find('\0') == std::string_view::npos &&
         nlohmann::json::accept(numbers_as_zero(text));
}

// The sample policy's text, with `threshold` and the unknown keys `extra`
// before the nine.
std::string policy_text(std::string_view threshold, std::string_view extra = "") {
  return "{" + std::string(extra) +
         R"("version": "0.1.0", "scoring_method": "max_prob", "threshold": )" +
         std::string(threshold) +
         R"(, "target_error_rate": 0.05, "calibration_method": "empirical", "created_by": "x"})";
}

void check_error_form(const FerolinError& error) {
  const std::string text = error.message();
  if (error.kind == ErrorKind::UnknownPolicyVersion) {
    require(text.starts_with("Unknown policy version: "), "the version error's form", text);
    return;
  }
  require(error.kind == ErrorKind::Json || error.kind == ErrorKind::JsonType,
          "only Json, JsonType and UnknownPolicyVersion errors", text);
  require(text.starts_with("JSON error: ") && ends_with_position(text),
          "a Json error has its prefix and a position", text);
}

void check_round_trip(const PolicyFile& policy) {
  const Result<std::string> text = policy_file::policy_to_json_text(policy);
  require(text.has_value(), "a policy that was read can be written",
          text ? "" : text.error().message());
  const Result<PolicyFile> again = policy_file::parse_policy(*text);
  require(again.has_value(), "a written policy reads back",
          *text + "\n" + (again ? "" : again.error().message()));
  require(same_policy(policy, *again), "a written policy reads back equal", *text);
  // Group labels are written in no defined order; with at most one the
  // whole text is fixed.
  if (!policy.group_thresholds || policy.group_thresholds->size() < 2) {
    const Result<std::string> text_again = policy_file::policy_to_json_text(*again);
    require(text_again && *text_again == *text, "writing a read-back policy gives the same text",
            *text);
  }
}

// The bytes as the value of an unknown key, before the nine and among them.
void check_skipped_value(std::string_view value) {
  if (!is_json_text(value)) return;
  const std::string text(value);
  const Result<PolicyFile> expected = policy_file::parse_policy(policy_text("0.5"));
  for (const std::string& document : {policy_text("0.5", "\"comment\":" + text + ","),
                                      policy_text("0.5, \"comment\": " + text)}) {
    const Result<PolicyFile> read = policy_file::parse_policy(document);
    require(read.has_value(), "a JSON value under an unknown key is skipped",
            document + "\n" + (read ? "" : read.error().message()));
    require(same_policy(*read, *expected), "an unknown key changes nothing", document);
  }
}

// The bytes as the threshold, when they are one number.
void check_number(std::string_view spelling) {
  if (!is_json_number(spelling)) return;
  const std::string text(spelling);
  const double nearest = std::strtod(text.c_str(), nullptr);
  const Result<PolicyFile> read = policy_file::parse_policy(policy_text(text));
  if (std::isfinite(nearest)) {
    require(read.has_value(), "a number in range is read", text);
    require(same_double(read->threshold, nearest), "a number reads as its nearest float", text);
  } else {
    require(!read && read.error().message().starts_with("JSON error: number overflow parsing '" +
                                                        text + "'"),
            "a number out of range in a field fails as such", text);
  }
}

}  // namespace
}  // namespace ferolin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ferolin::fuzz;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  check_skipped_value(bytes);
  check_number(bytes);
  const ferolin::Result<ferolin::PolicyFile> policy = ferolin::policy_file::parse_policy(bytes);
  if (!policy) {
    check_error_form(policy.error());
    if (bytes.starts_with(kBom)) {
      require(policy.error().message().ends_with(" at line 1 column 1"),
              "a byte-order mark fails where it stands", policy.error().message());
    }
    return 0;
  }
  require(is_json_text(bytes), "only JSON text is accepted");
  check_round_trip(*policy);
  return 0;
}
