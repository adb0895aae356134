// Malformed policy documents, made by cutting and mutating valid ones: each
// must give a policy or a clean error, never a crash or a hang, and every
// message must be valid UTF-8 with a position, so that it can become a
// Python string.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/policy_file/policy_json.h"
#include "support/policy_test_support.h"

namespace ferolin::policy_file {
namespace {

bool is_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80         ? 1
                               : (lead >> 5) == 6  ? 2
                               : (lead >> 4) == 14 ? 3
                               : (lead >> 3) == 30 ? 4
                                                   : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// Returns "" when the outcome is acceptable, otherwise what is wrong.
std::string check(std::string_view document) {
  const Result<PolicyFile> result = parse_policy(document);
  if (result) return "";
  const std::string message = result.error().message();
  if (!is_utf8(message)) return "message is not UTF-8: " + message;
  if (result.error().kind == ErrorKind::UnknownPolicyVersion) return "";
  if (result.error().kind != ErrorKind::Json && result.error().kind != ErrorKind::JsonType) {
    return "unexpected kind: " + message;
  }
  if (message.find(" at line ") == std::string::npos) return "no position: " + message;
  return "";
}

std::vector<std::string> seed_documents() {
  PolicyFile groups = test::sample_policy();
  groups.confidence_level = 0.95;
  groups.group_col = "batch é";
  groups.group_thresholds = {{"b1", 0.7}, {"b\n2", 1e-300}, {"😀", -3.0}};
  return {
      *policy_to_json_text(test::sample_policy()),
      *policy_to_json_text(groups),
      R"(["0.1.0", {"top_k_gap": null}, 1, 5e-2, "crc", 0.95, "ferolin", "g", {"a": 1}])",
      R"({"x": [[{"y": "\u00e9\ud83d\ude00"}]], "version": "0.1.0", "scoring_method":)"
      R"( {"margin": null}, "threshold": -12, "target_error_rate": 18446744073709551616,)"
      R"( "calibration_method": "binomial", "created_by": "", "x": true})",
  };
}

TEST(PolicyJsonFuzzTest, EveryTruncationIsHandled) {
  for (const std::string& document : seed_documents()) {
    for (std::size_t length = 0; length < document.size(); ++length) {
      const std::string cut = document.substr(0, length);
      EXPECT_EQ(check(cut), "") << cut;
      EXPECT_FALSE(parse_policy(cut).has_value()) << cut;
    }
  }
}

TEST(PolicyJsonFuzzTest, MutatedBytesAreHandled) {
  std::mt19937_64 rng(7);
  const char interesting[] = {'\0',   '"',    '\\',   '{', '}', '[', ']', ',', ':', '\n',
                              '\xff', '\xc3', '\x80', 'e', '-', '0', '9', 'n', 't', '.'};
  for (const std::string& seed : seed_documents()) {
    for (int round = 0; round < 3000; ++round) {
      std::string document = seed;
      for (auto edits = 1 + rng() % 3; edits > 0; --edits) {
        const std::size_t at = rng() % document.size();
        const char byte = rng() % 2 == 0 ? interesting[rng() % sizeof interesting]
                                         : static_cast<char>(rng() % 256);
        switch (rng() % 4) {
          case 0:
            document[at] = byte;
            break;
          case 1:
            document[at] = static_cast<char>(document[at] ^ (1 << (rng() % 8)));
            break;
          case 2:
            document.insert(document.begin() + static_cast<std::ptrdiff_t>(at), byte);
            break;
          default:
            if (document.size() > 1) document.erase(at, 1);
        }
      }
      ASSERT_EQ(check(document), "") << document;
    }
  }
}

}  // namespace
}  // namespace ferolin::policy_file
