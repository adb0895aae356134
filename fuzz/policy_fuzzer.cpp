// Fuzz target: the policy file reader. Whatever the bytes, reading ends with
// a policy or with one error of the documented forms; only valid JSON is
// ever accepted; and a policy that was read, written and read back is equal
// to the first, its text a fixed point of writing.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/policy_file/policy_json.h"
#include "fuzz_check.h"

namespace ferolin::fuzz {
namespace {

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

void check_error_form(const FerolinError& error) {
  const std::string text = error.message();
  if (error.kind == ErrorKind::UnknownPolicyVersion) {
    require(text.starts_with("Unknown policy version: "), "the version error's form", text);
    return;
  }
  require(error.kind == ErrorKind::Json, "only Json and UnknownPolicyVersion errors", text);
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

}  // namespace
}  // namespace ferolin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ferolin::fuzz;
  const std::span<const char> bytes(reinterpret_cast<const char*>(data), size);
  const ferolin::Result<ferolin::PolicyFile> policy = ferolin::policy_file::parse_policy(bytes);
  if (!policy) {
    check_error_form(policy.error());
    return 0;
  }
  require(nlohmann::json::accept(bytes.begin(), bytes.end()), "only valid JSON is accepted");
  check_round_trip(*policy);
  return 0;
}
