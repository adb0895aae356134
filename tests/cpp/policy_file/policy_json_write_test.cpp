#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "core/policy_file/policy_json.h"
#include "support/policy_test_support.h"

namespace ferolin::policy_file {
namespace {

using test::expect_same_policy;
using test::sample_policy;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string text_of(const PolicyFile& policy) {
  const Result<std::string> text = policy_to_json_text(policy);
  return text ? *text : text.error().message();
}

TEST(PolicyJsonWriteTest, ExactBytes) {
  PolicyFile groups = sample_policy();
  groups.scoring_method = ScoringMethod::TopKGap;
  groups.calibration_method = CalibrationMethod::Binomial;
  groups.confidence_level = 0.95;
  groups.group_col = "batch";
  groups.group_thresholds = {{"b2", 0.9}, {"b1", 0.7}};
  PolicyFile empty_groups = sample_policy();
  empty_groups.group_thresholds.emplace();
  PolicyFile escapes = sample_policy();
  escapes.version = "q\"b\\s/\n\t\b\f\r\x01\x1f\x7f é 😀";
  escapes.created_by = "";

  const std::string head =
      "{\n"
      "  \"version\": \"0.1.0\",\n"
      "  \"scoring_method\": \"max_prob\",\n"
      "  \"threshold\": 0.8,\n"
      "  \"target_error_rate\": 0.05,\n"
      "  \"calibration_method\": \"empirical\",\n"
      "  \"confidence_level\": null,\n";
  const struct {
    PolicyFile policy;
    std::string text;
  } cases[] = {
      {sample_policy(), head + "  \"created_by\": \"ferolin\"\n}"},
      {groups,
       "{\n"
       "  \"version\": \"0.1.0\",\n"
       "  \"scoring_method\": \"top_k_gap\",\n"
       "  \"threshold\": 0.8,\n"
       "  \"target_error_rate\": 0.05,\n"
       "  \"calibration_method\": \"binomial\",\n"
       "  \"confidence_level\": 0.95,\n"
       "  \"created_by\": \"ferolin\",\n"
       "  \"group_col\": \"batch\",\n"
       "  \"group_thresholds\": {\n"
       "    \"b1\": 0.7,\n"
       "    \"b2\": 0.9\n"
       "  }\n"
       "}"},
      {empty_groups, head + "  \"created_by\": \"ferolin\",\n  \"group_thresholds\": {}\n}"},
      {escapes, "{\n  \"version\": \"q\\\"b\\\\s/\\n\\t\\b\\f\\r\\u0001\\u001f\x7f é 😀\",\n" +
                    head.substr(head.find("  \"scoring")) + "  \"created_by\": \"\"\n}"},
  };
  for (const auto& c : cases) EXPECT_EQ(text_of(c.policy), c.text);
}

// The number layout itself is tested with format_json_number; here, that the
// writer uses it and writes non-finite values as null.
TEST(PolicyJsonWriteTest, NumbersInJsonFormAndNonFiniteAsNull) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1.0, "1.0"}, {1e16, "1e16"}, {-0.0, "-0.0"}, {kNaN, "null"}, {kInf, "null"}, {-kInf, "null"},
  };
  for (const auto& c : cases) {
    PolicyFile policy = sample_policy();
    policy.threshold = c.value;
    const std::string text = text_of(policy);
    EXPECT_NE(text.find("\"threshold\": " + std::string(c.text) + ",\n"), std::string::npos)
        << c.text << "\n"
        << text;
  }
}

// A non-finite float is written as null, which reads back as absent where
// the field is optional and fails where it is not.
TEST(PolicyJsonWriteTest, NonFiniteValuesReadBackAsNull) {
  const std::string null_f64 = "JSON error: invalid type: null, expected f64 at line ";
  const struct {
    void (*change)(PolicyFile&);
    std::string message;
  } cases[] = {
      {[](PolicyFile& p) { p.threshold = kNaN; }, null_f64 + "4 column 19"},
      {[](PolicyFile& p) { p.target_error_rate = -kInf; }, null_f64 + "5 column 27"},
      {[](PolicyFile& p) { p.group_thresholds = {{"g", kInf}}; }, null_f64 + "10 column 13"},
      {[](PolicyFile& p) { p.confidence_level = kNaN; }, "read"},
      {[](PolicyFile& p) { p.version = "2"; }, "Unknown policy version: 2"},
  };
  for (const auto& c : cases) {
    PolicyFile policy = sample_policy();
    c.change(policy);
    const Result<PolicyFile> read = parse_policy(text_of(policy));
    EXPECT_EQ(read ? "read" : read.error().message(), c.message) << text_of(policy);
    if (read) {
      EXPECT_FALSE(read->confidence_level.has_value());
    }
  }
}

// Text that is not UTF-8 fails before the file is touched.
TEST(PolicyJsonWriteTest, InvalidUtf8FailsWithoutTouchingTheFile) {
  test::ScratchDir dir;
  const std::string old_file = dir.file("old.json");
  test::write_file(old_file, "old contents");
  const struct {
    void (*change)(PolicyFile&);
    std::string message;
  } cases[] = {
      {[](PolicyFile& p) { p.version = "a\xff"; }, "invalid UTF-8 byte at index 1: 0xFF"},
      {[](PolicyFile& p) { p.created_by = "\xc3"; }, "incomplete UTF-8 string; last byte: 0xC3"},
      {[](PolicyFile& p) { p.group_col = "ab\xed\xa0\x80"; },
       "invalid UTF-8 byte at index 3: 0xA0"},
      {[](PolicyFile& p) { p.group_thresholds = {{"\x80", 1.0}}; },
       "invalid UTF-8 byte at index 0: 0x80"},
  };
  for (const auto& c : cases) {
    PolicyFile policy = sample_policy();
    c.change(policy);
    EXPECT_EQ(text_of(policy), "JSON error: " + c.message);
    for (const std::string& path : {old_file, dir.file("new.json")}) {
      const Result<void> written = write_json(policy, path);
      ASSERT_FALSE(written.has_value());
      EXPECT_EQ(written.error().kind, ErrorKind::Json);
    }
    EXPECT_EQ(test::read_file(old_file), "old contents");
    EXPECT_EQ(dir.listing(), "old.json ");
  }
}

// Extra keys follow the policy's own, laid out like them, their object keys
// in the order given; readers skip them.
// A policy key among them, or a value that is not JSON, fails before the
// file is touched.
TEST(PolicyJsonWriteTest, ExtraKeysFollowInTheSameLayout) {
  PolicyFile policy = sample_policy();
  policy.group_col = "mode";
  policy.group_thresholds = {{"pos", 0.5}};
  const ExtraKey extra[] = {{"calibration", R"({"labelled": 118, "interval": [0.25, null],
                                                  "table": "t\u00e9.csv", "none": {}})"},
                            {"note", "\"a\""}};
  const Result<std::string> text = policy_to_json_text(policy, extra);
  ASSERT_TRUE(text.has_value()) << text.error().message();
  const std::string tail =
      "  \"group_thresholds\": {\n"
      "    \"pos\": 0.5\n"
      "  },\n"
      "  \"calibration\": {\n"
      "    \"labelled\": 118,\n"
      "    \"interval\": [\n"
      "      0.25,\n"
      "      null\n"
      "    ],\n"
      "    \"table\": \"té.csv\",\n"
      "    \"none\": {}\n"
      "  },\n"
      "  \"note\": \"a\"\n"
      "}";
  ASSERT_GE(text->size(), tail.size());
  EXPECT_EQ(text->substr(text->size() - tail.size()), tail);
  const Result<PolicyFile> read = parse_policy(*text);
  ASSERT_TRUE(read.has_value()) << read.error().message();
  expect_same_policy(*read, policy);

  test::ScratchDir dir;
  const std::string old_file = dir.file("old.json");
  test::write_file(old_file, "old contents");
  const struct {
    ExtraKey extra;
    std::string message;
  } refused[] = {
      {{"threshold", "1"}, "the extra key 'threshold' is a key of the policy itself"},
      {{"group_col", "null"}, "the extra key 'group_col' is a key of the policy itself"},
      {{"x", "{\"a\": 1"}, "the value of the extra key 'x' is not JSON: "},
      {{"x", "1 2"}, "the value of the extra key 'x' is not JSON: "},
  };
  for (const auto& c : refused) {
    const Result<void> written = write_json(policy, old_file, std::span(&c.extra, 1));
    ASSERT_FALSE(written.has_value()) << c.extra.json;
    EXPECT_EQ(written.error().kind, ErrorKind::InvalidArgument);
    EXPECT_TRUE(written.error().message().starts_with(c.message)) << written.error().message();
  }
  EXPECT_EQ(test::read_file(old_file), "old contents");
}

// Text of up to eight pieces drawn from ASCII, escapes, controls and
// multi-byte characters: always valid UTF-8.
std::string random_text(std::mt19937_64& rng) {
  static const char* const kPieces[] = {"a",    "Z",    "0",    " ", "\"", "\\",     "/",     "\n",
                                        "\x01", "\x1f", "\x7f", "é", "😀", "\u2028", "0.1.0", "."};
  std::string text;
  for (auto n = rng() % 9; n > 0; --n) text += kPieces[rng() % std::size(kPieces)];
  return text;
}

double random_finite(std::mt19937_64& rng) {
  while (true) {
    const auto choice = rng() % 4;
    const double value = choice == 0   ? static_cast<double>(static_cast<std::int64_t>(rng()))
                         : choice == 1 ? std::ldexp(static_cast<double>(rng() % 1000), -10)
                                       : std::bit_cast<double>(rng());
    if (std::isfinite(value)) return value;
  }
}

PolicyFile random_policy(std::mt19937_64& rng) {
  PolicyFile policy;
  policy.version = rng() % 4 == 0 ? random_text(rng) : "0.1.0";
  policy.scoring_method = static_cast<ScoringMethod>(rng() % kScoringMethodCount);
  policy.threshold = random_finite(rng);
  policy.target_error_rate = random_finite(rng);
  policy.calibration_method = static_cast<CalibrationMethod>(rng() % kCalibrationMethodCount);
  if (rng() % 2 == 0) policy.confidence_level = random_finite(rng);
  policy.created_by = random_text(rng);
  if (rng() % 2 == 0) policy.group_col = random_text(rng);
  if (rng() % 2 == 0) {
    auto& groups = policy.group_thresholds.emplace();
    for (auto n = rng() % 5; n > 0; --n) groups[random_text(rng)] = random_finite(rng);
  }
  return policy;
}

TEST(PolicyJsonWriteTest, SeededRandomPoliciesRoundTrip) {
  std::mt19937_64 rng(20240607);
  test::ScratchDir dir;
  const std::string path = dir.file("round_trip.json");
  for (int i = 0; i < 2000; ++i) {
    const PolicyFile policy = random_policy(rng);
    // Every fiftieth goes through a file, the others through text only.
    const bool through_file = i % 50 == 0;
    if (through_file) {
      ASSERT_TRUE(write_json(policy, path).has_value());
    }
    const Result<PolicyFile> read =
        through_file ? read_policy(path) : parse_policy(text_of(policy));
    if (policy.version != "0.1.0") {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(read.error().kind, ErrorKind::UnknownPolicyVersion);
      EXPECT_EQ(read.error().detail, policy.version);
      continue;
    }
    ASSERT_TRUE(read.has_value()) << text_of(policy) << "\n" << read.error().message();
    expect_same_policy(*read, policy);
  }
}

}  // namespace
}  // namespace ferolin::policy_file
