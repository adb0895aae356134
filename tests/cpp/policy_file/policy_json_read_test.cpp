#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "core/policy_file/policy_json.h"
#include "support/policy_test_support.h"

namespace ferolin::policy_file {
namespace {

using test::expect_same_policy;
using test::sample_policy;

// The seven keys of a policy without groups, one per line, so that positions
// are easy to check: the value of key i stands on line i + 2.
std::string seven_keys(std::string_view threshold = "0.8", std::string_view extra = "") {
  return std::string("{\n") +
         "  \"version\": \"0.1.0\",\n"
         "  \"scoring_method\": \"max_prob\",\n"
         "  \"threshold\": " +
         std::string(threshold) +
         ",\n"
         "  \"target_error_rate\": 0.05,\n"
         "  \"calibration_method\": \"empirical\",\n"
         "  \"confidence_level\": null,\n"
         "  \"created_by\": \"ferolin\"" +
         std::string(extra) + "\n}";
}

const std::string kBom = "\xEF\xBB\xBF";
// Too large for a 64-bit float, and for any integer type.
const std::string kHugeInteger = "1" + std::string(400, '7');

std::string read_message(std::string_view document) {
  const Result<PolicyFile> result = parse_policy(document);
  return result ? "read" : result.error().message();
}

TEST(PolicyJsonReadTest, ConversionErrorsNameTheFaultAndItsPosition) {
  const std::string scoring_list =
      "one of `max_prob`, `score_gap`, `margin`, `entropy`, `score_ratio`, `top_k_gap`, "
      "`effective_k`, `candidate_count`";
  const struct {
    std::string document;
    std::string message;
  } cases[] = {
      {seven_keys("true"), "invalid type: boolean `true`, expected f64 at line 4 column 19"},
      {seven_keys("null"), "invalid type: null, expected f64 at line 4 column 19"},
      {seven_keys("\"x\""), "invalid type: string \"x\", expected f64 at line 4 column 18"},
      {seven_keys("[1]"), "invalid type: sequence, expected f64 at line 4 column 16"},
      {seven_keys("{}"), "invalid type: map, expected f64 at line 4 column 16"},
      {R"({"version": 1.5})",
       "invalid type: floating point `1.5`, expected a string at line 1 column 15"},
      {"{\"version\": -3\n}", "invalid type: integer `-3`, expected a string at line 1 column 14"},
      {"5", "invalid type: integer `5`, expected struct PolicyFile at line 1 column 1"},
      {" \"a\\n\\u0001\" ",
       "invalid type: string \"a\\n\\u{1}\", expected struct PolicyFile at line 1 column 12"},
      {"null", "invalid type: null, expected struct PolicyFile at line 1 column 4"},
      {R"({"version": "0.1.0", "scoring_method": "max_prob", "threshold": 1})",
       "missing field `target_error_rate` at line 1 column 66"},
      {"{\n  \"threshold\": 1\n}", "missing field `version` at line 3 column 1"},
      {seven_keys("0.8", ",\n  \"threshold\": 0.9"),
       "duplicate field `threshold` at line 9 column 13"},
      {seven_keys("0.8", ", \"group_col\": null, \"group_col\": \"b\""),
       "duplicate field `group_col` at line 8 column 57"},
      {R"({"scoring_method": "maxprob"})",
       "unknown variant `maxprob`, expected " + scoring_list + " at line 1 column 28"},
      {R"({"scoring_method": "topk_gap"})",
       "unknown variant `topk_gap`, expected " + scoring_list + " at line 1 column 29"},
      {R"({"scoring_method": "Max_Prob"})",
       "unknown variant `Max_Prob`, expected " + scoring_list + " at line 1 column 29"},
      {R"({"calibration_method": "Empirical"})",
       "unknown variant `Empirical`, expected one of `empirical`, `binomial`, `crc` at line 1 "
       "column 34"},
      {R"({"scoring_method": {"maxprob": null}})",
       "unknown variant `maxprob`, expected " + scoring_list + " at line 1 column 29"},
      {R"({"scoring_method": {}})",
       "invalid length 0, expected enum ScoringMethod as a map with one key at line 1 column 21"},
      {R"({"scoring_method": {"margin": null, "crc": null}})",
       "invalid length 2, expected enum ScoringMethod as a map with one key at line 1 column 41"},
      {R"({"calibration_method": {"crc": 0}})",
       "invalid type: integer `0`, expected unit at line 1 column 32"},
      {R"({"scoring_method": 3})",
       "invalid type: integer `3`, expected enum ScoringMethod at line 1 column 20"},
      {R"({"calibration_method": false})",
       "invalid type: boolean `false`, expected enum CalibrationMethod at line 1 column 28"},
      {R"({"group_thresholds": []})", "invalid type: sequence, expected a map at line 1 column 22"},
      {R"({"group_thresholds": {"a": null}})",
       "invalid type: null, expected f64 at line 1 column 31"},
      {R"({"group_thresholds": {"a": "0.5"}})",
       "invalid type: string \"0.5\", expected f64 at line 1 column 32"},
      {R"({"group_col": 7})", "invalid type: integer `7`, expected a string at line 1 column 15"},
      {R"({"confidence_level": "x"})",
       "invalid type: string \"x\", expected f64 at line 1 column 24"},
      {R"(["0.1.0", "margin", 0.5, 0.1, "binomial", 0.95])",
       "invalid length 6, expected struct PolicyFile with 9 elements at line 1 column 47"},
      {R"(["0.1.0", "margin", 0.5, 0.1, "binomial", 0.95, "me", null, {}, 1, [[2]]])",
       "invalid length 11, expected struct PolicyFile with 9 elements at line 1 column 73"},
      {R"(["0.1.0", "margin", "x"])",
       "invalid type: string \"x\", expected f64 at line 1 column 23"},
      {R"([])", "invalid length 0, expected struct PolicyFile with 9 elements at line 1 column 2"},
      {seven_keys() + " x", "trailing characters at line 9 column 3"},
      {seven_keys() + "\n" + seven_keys(), "trailing characters at line 10 column 1"},
      {seven_keys("tru"), "syntax error while parsing value - invalid literal at line 4 column 19"},
      {"",
       "syntax error while parsing value - unexpected end of input; expected '[', '{', or a "
       "literal at line 1 column 0"},
      {R"({"version": "0.1.0",)",
       "syntax error while parsing object key - unexpected end of input; expected string literal "
       "at line 1 column 20"},
      {seven_keys("1e400"), "number overflow parsing '1e400' at line 4 column 20"},
      {seven_keys("0.8", " // note"),
       "syntax error while parsing object - invalid literal; expected '}' at line 8 column 27"},
      {std::string("{\"version\": \"0.1.0\", \"x\": \"a\xff\"}"),
       "syntax error while parsing value - invalid string: ill-formed UTF-8 byte at line 1 "
       "column 29"},
      {std::string("{\0}", 3),
       "syntax error while parsing object key - unexpected NUL byte; expected string literal at "
       "line 1 column 2"},
      // Malformed and of another version: the conversion error wins.
      {R"({"version": "0.2.0"})", "missing field `scoring_method` at line 1 column 20"},
      // A byte-order mark is not JSON text.
      {kBom + seven_keys(),
       "syntax error while parsing value - invalid literal at line 1 column 1"},
      {kBom, "syntax error while parsing value - invalid literal at line 1 column 1"},
      {"\xEF\xBB{}", "syntax error while parsing value - invalid literal at line 1 column 1"},
      {R"({"version": -0})",
       "invalid type: floating point `-0.0`, expected a string at line 1 column 14"},
      // Out of range in one of the nine keys, or where no value is skipped.
      {seven_keys(kHugeInteger),
       "number overflow parsing '" + kHugeInteger + "' at line 4 column 416"},
      {R"({"group_thresholds": {"a": -1e999}})",
       "number overflow parsing '-1e999' at line 1 column 33"},
      {R"({"calibration_method": {"crc": 1e999}})",
       "number overflow parsing '1e999' at line 1 column 36"},
      {"1e999", "number overflow parsing '1e999' at line 1 column 5"},
      // Malformed numbers in skipped values fail where they did.
      {R"({"c": [1 2]})",
       "syntax error while parsing array - unexpected number literal; expected ']' at line 1 "
       "column 11"},
      {R"({"c": 5-1e999})",
       "syntax error while parsing object - unexpected number literal; expected '}' at line 1 "
       "column 14"},
      {R"({"c": {"k" 1e999}})",
       "syntax error while parsing object separator - unexpected number literal; expected ':' at "
       "line 1 column 17"},
      {R"({"c": -x})",
       "syntax error while parsing value - invalid number; expected digit after '-' at line 1 "
       "column 8"},
      {R"({"c": 123.e})",
       "syntax error while parsing value - invalid number; expected digit after '.' at line 1 "
       "column 11"},
      {R"({"c": 1e+})",
       "syntax error while parsing value - invalid number; expected digit after exponent sign at "
       "line 1 column 10"},
      {R"({"c": 1e5e2})",
       "syntax error while parsing object - invalid literal; expected '}' at line 1 column 10"},
      {R"({"c": 1.5.3})",
       "syntax error while parsing object - invalid literal; expected '}' at line 1 column 10"},
      {R"({"c": tru567})",
       "syntax error while parsing value - invalid literal at line 1 column 10"},
      {R"({"c": 1e999)",
       "syntax error while parsing object - unexpected end of input; expected '}' at line 1 column "
       "11"},
      {R"(["0.1.0", "max_prob", 0.8, 0.05, "empirical", null, "ferolin", null, {}, 1e999])",
       "invalid length 10, expected struct PolicyFile with 9 elements at line 1 column 79"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_message(c.document), "JSON error: " + c.message) << c.document;
  }
}

TEST(PolicyJsonReadTest, WrongTypesCarryTheKeyWhatItTakesAndThePosition) {
  const struct {
    std::string document;
    PolicyMethods methods;
    JsonTypeFailure failure;
  } cases[] = {
      {seven_keys("\"0.05\""), PolicyMethods::Eight,
       {"threshold", "f64", "string", "\"0.05\"", 4, 21}},
      {R"(["0.1.0", "margin", true])", PolicyMethods::Eight,
       {"threshold", "f64", "boolean", "true", 1, 24}},
      {R"({"group_thresholds": {"a": [1]}})", PolicyMethods::Eight,
       {"a", "f64", "array", "", 1, 28}},
      {R"({"calibration_method": {"crc": 0}})", PolicyMethods::Eight,
       {"crc", "unit", "number", "0", 1, 32}},
      {"5", PolicyMethods::Eight, {"", "struct PolicyFile", "number", "5", 1, 1}},
      // The numbers of these keys are skipped unread: the kind alone is known.
      {R"({"confidence_col": 37, "scoring_method": "confidence_column"})",
       PolicyMethods::WithConfidenceColumn, {"confidence_col", "a string", "number", "", 1, 21}},
  };
  for (const auto& c : cases) {
    const Result<PolicyFile> result = parse_policy(c.document, c.methods);
    ASSERT_FALSE(result.has_value()) << c.document;
    ASSERT_TRUE(result.error().json_type.has_value()) << result.error().message();
    const JsonTypeFailure& found = *result.error().json_type;
    EXPECT_EQ(found.key, c.failure.key) << c.document;
    EXPECT_EQ(found.expected, c.failure.expected) << c.document;
    EXPECT_EQ(found.found, c.failure.found) << c.document;
    EXPECT_EQ(found.value, c.failure.value) << c.document;
    EXPECT_EQ(found.line, c.failure.line) << c.document;
    EXPECT_EQ(found.column, c.failure.column) << c.document;
  }
  EXPECT_EQ(parse_policy(cases[5].document, cases[5].methods).error().message(),
            "JSON error: invalid type: number, expected a string at line 1 column 21");
  // Other failures carry none.
  EXPECT_FALSE(parse_policy(R"({"scoring_method": "maxprob"})").error().json_type.has_value());
}

TEST(PolicyJsonReadTest, VersionIsCheckedAfterConversion) {
  const struct {
    std::string version;
    std::string message;
  } cases[] = {
      {"0.2.0", "Unknown policy version: 0.2.0"},
      {"0.1", "Unknown policy version: 0.1"},
      {"2", "Unknown policy version: 2"},
      {"", "Unknown policy version: "},
  };
  for (const auto& c : cases) {
    std::string document = seven_keys();
    document.replace(document.find("0.1.0"), 5, c.version);
    const Result<PolicyFile> result = parse_policy(document);
    ASSERT_FALSE(result.has_value()) << c.version;
    EXPECT_EQ(result.error().kind, ErrorKind::UnknownPolicyVersion);
    EXPECT_EQ(result.error().message(), c.message);
  }
}

TEST(PolicyJsonReadTest, AcceptsEveryLayoutAndForm) {
  PolicyFile with_groups = sample_policy();
  with_groups.scoring_method = ScoringMethod::TopKGap;
  with_groups.calibration_method = CalibrationMethod::Crc;
  with_groups.threshold = 1.0;
  with_groups.confidence_level = 0.95;
  with_groups.group_col = "batch";
  with_groups.group_thresholds = {{"b1", 0.7}, {"b2", -2.0}};
  PolicyFile empty_groups = sample_policy();
  empty_groups.group_thresholds.emplace();
  PolicyFile big_numbers = sample_policy();
  big_numbers.threshold = 18446744073709551616.0;
  big_numbers.target_error_rate = -9223372036854775808.0;
  big_numbers.confidence_level = -5.0;

  const struct {
    std::string document;
    PolicyFile expected;
  } cases[] = {
      {seven_keys(), sample_policy()},
      {R"({"created_by":"ferolin","calibration_method":"empirical","target_error_rate":0.05,)"
       R"("threshold":0.8,"scoring_method":"max_prob","version":"0.1.0"})",
       sample_policy()},
      {"\t{\r\n\"comment\": [1, {\"a\": [true]}], \"comment\": null, \"version\": \"0.1.0\", "
       "\"scoring_method\": {\"max_prob\": null}, \"threshold\": 8e-1, \"target_error_rate\": "
       "5E-2, \"calibration_method\": {\"empirical\" : null}, \"created_by\": \"ferolin\", "
       "\"group_col\": null, \"group_thresholds\": null, \"version_\": 1}\r\n ",
       sample_policy()},
      {R"({"version": "0.1.0", "scoring_method": "top_k_gap", "threshold": 1,
           "target_error_rate": 0.05, "calibration_method": "crc", "confidence_level": 0.95,
           "created_by": "ferolin", "group_col": "batch",
           "group_thresholds": {"b1": 0.5, "b2": -2, "b1": 0.7}})",
       with_groups},
      {seven_keys("0.8", ", \"group_thresholds\": {}"), empty_groups},
      {R"(["0.1.0", "max_prob", 0.8, 0.05, "empirical", null, "ferolin"])", sample_policy()},
      {R"(["0.1.0", "max_prob", 0.8, 0.05, "empirical", null, "ferolin", null])", sample_policy()},
      {R"(["0.1.0", {"top_k_gap": null}, 1, 0.05, "crc", 0.95, "ferolin", "batch",)"
       R"( {"b1": 0.7, "b2": -2}])",
       with_groups},
      {R"({"version": "0.1.0", "scoring_method": "max_prob", "threshold": 18446744073709551616,)"
       R"( "target_error_rate": -9223372036854775808, "calibration_method": "empirical",)"
       R"( "confidence_level": -5, "created_by": "ferolin"})",
       big_numbers},
      // Skipped values hold numbers of any size, also beside strings of digits.
      {R"({"c": {"k": [1e999, -1E+400000, 0.1e-99999,)" + kHugeInteger + R"(,-0, "1e999"]},)" +
           seven_keys().substr(1, std::string::npos),
       sample_policy()},
      {seven_keys("0.8", ",\"c\":" + kHugeInteger + ", \"d\": -" + kHugeInteger + ".5e9"),
       sample_policy()},
  };
  for (const auto& c : cases) {
    const Result<PolicyFile> result = parse_policy(c.document);
    ASSERT_TRUE(result.has_value()) << c.document << "\n" << result.error().message();
    expect_same_policy(*result, c.expected);
  }
}

// Every spelling of a number reads as the nearest 64-bit float, negative
// zero included.
TEST(PolicyJsonReadTest, NumbersReadAsTheirNearestFloat) {
  for (const char* spelling : {"-0", "-0.0", "-0e0", "-0E+7", "-0.000e-3", "0", "-1e-400", "-7",
                               "0.30000000000000004", "1e308", "-9223372036854775809"}) {
    const std::string document =
        seven_keys(spelling, std::string(", \"group_thresholds\": {\"g\": ") + spelling + "}");
    const Result<PolicyFile> read = parse_policy(document);
    ASSERT_TRUE(read.has_value()) << spelling << ": " << read.error().message();
    const double expected = std::strtod(spelling, nullptr);
    EXPECT_EQ(test::bits(read->threshold), test::bits(expected)) << spelling;
    EXPECT_EQ(test::bits(read->group_thresholds->at("g")), test::bits(expected)) << spelling;
  }
}

// The parser and the handler keep no stack per level of nesting: a value a
// million levels deep under an unknown key is skipped, and an unclosed one
// ends in an error.
TEST(PolicyJsonReadTest, DeepNestingUnderAnUnknownKeyCostsNoStack) {
  constexpr std::size_t kDepth = 1'000'000;
  std::string arrays = std::string(kDepth, '[') + std::string(kDepth, ']');
  std::string objects;
  for (std::size_t i = 0; i < kDepth; ++i) objects += "{\"a\":";
  objects += "1" + std::string(kDepth, '}');
  for (const std::string* nested : {&arrays, &objects}) {
    const std::string document = seven_keys("0.8", ", \"deep\": " + *nested);
    const Result<PolicyFile> read = parse_policy(document);
    ASSERT_TRUE(read.has_value()) << read.error().message();
    expect_same_policy(*read, sample_policy());
    const std::string unclosed = document.substr(0, document.size() / 2);
    EXPECT_TRUE(read_message(unclosed).starts_with("JSON error: syntax error"));
  }
}

// Returns `count` distinct 16-byte ASCII labels that all have one
// std::hash<std::string>. libstdc++ hashes 8-byte words with
// h = (h ^ mix(word)) * kMul, where mix and the multiplication are
// invertible: for any first word, the second word that brings h to a fixed
// value can be solved for; a first word is kept when that second word is
// ASCII too.
std::vector<std::string> labels_of_one_std_hash(std::size_t count) {
  constexpr std::uint64_t kMul = 0xc6a4a7935bd1e995;
  std::uint64_t inverse = kMul;  // Newton's iteration for the inverse mod 2^64
  for (int i = 0; i < 5; ++i) inverse *= 2 - kMul * inverse;
  const auto shift_mix = [](std::uint64_t v) { return v ^ (v >> 47); };
  const auto mix = [&](std::uint64_t word) { return shift_mix(word * kMul) * kMul; };
  const auto unmix = [&](std::uint64_t mixed) { return shift_mix(mixed * inverse) * inverse; };
  const std::uint64_t start = 0xc70f6907 ^ (16 * kMul);  // the seed and the length
  const std::uint64_t target = 0x0123456789abcdef;       // the state before finishing
  std::vector<std::string> labels;
  for (std::uint64_t n = 0; labels.size() < count; ++n) {
    std::uint64_t first = 0;  // eight ASCII bytes from '0' to 'o', six bits of n each
    for (int k = 0; k < 8; ++k) first |= (0x30 + ((n >> (6 * k)) & 63)) << (8 * k);
    const std::uint64_t second = unmix(((start ^ mix(first)) * kMul) ^ (target * inverse));
    if ((second & 0x8080808080808080) != 0) continue;
    std::string label(16, '\0');
    std::memcpy(label.data(), &first, 8);
    std::memcpy(label.data() + 8, &second, 8);
    labels.push_back(std::move(label));
  }
  return labels;
}

// Labels crafted to share one std::hash spread over the buckets of the
// map that reading builds, so that reading them takes linear time.
TEST(PolicyJsonReadTest, CollidingLabelsSpreadOverBuckets) {
  if constexpr (sizeof(std::size_t) != 8 || std::endian::native != std::endian::little) {
    GTEST_SKIP() << "the labels are built for 64-bit little-endian std::hash";
  }
  constexpr std::size_t kLabels = 40'000;
  const std::vector<std::string> labels = labels_of_one_std_hash(kLabels);
  const std::size_t one_hash = std::hash<std::string>{}(labels.front());
  PolicyFile policy = sample_policy();
  auto& groups = policy.group_thresholds.emplace();
  for (const std::string& label : labels) {
    ASSERT_EQ(std::hash<std::string>{}(label), one_hash);
    groups[label] = 0.5;
  }
  const Result<std::string> text = policy_to_json_text(policy);
  ASSERT_TRUE(text.has_value()) << text.error().message();
  const Result<PolicyFile> read = parse_policy(*text);
  ASSERT_TRUE(read.has_value()) << read.error().message();
  ASSERT_EQ(read->group_thresholds->size(), kLabels);
  std::size_t fullest = 0;
  for (std::size_t b = 0; b < read->group_thresholds->bucket_count(); ++b) {
    fullest = std::max(fullest, read->group_thresholds->bucket_size(b));
  }
  EXPECT_LT(fullest, 32u);
}

std::ptrdiff_t open_descriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                       std::filesystem::directory_iterator());
}

// Every read closes its file, whether it succeeds or fails.
TEST(PolicyJsonReadTest, FileErrors) {
  test::ScratchDir dir;
  const std::string file = dir.file("policy.json");
  test::write_file(file, seven_keys());
  const std::string with_bom = dir.file("bom.json");
  test::write_file(with_bom, kBom + seven_keys());
  const std::string with_nul = file + std::string("\0.bak", 5);
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {dir.file("missing.json"), "IO error: No such file or directory (os error 2)"},
      {dir.path(), "JSON error: Is a directory (os error 21)"},
      {with_nul, "IO error: path contains a NUL byte"},
      {with_bom,
       "JSON error: syntax error while parsing value - invalid literal at line 1 column 1"},
      {"/dev/zero",
       "JSON error: syntax error while parsing value - unexpected NUL byte; expected '[', '{', or "
       "a literal at line 1 column 1"},
  };
  const std::ptrdiff_t descriptors = open_descriptors();
  for (const auto& c : cases) {
    const Result<PolicyFile> result = read_policy(c.path);
    ASSERT_FALSE(result.has_value()) << c.path;
    EXPECT_EQ(result.error().message(), c.message);
  }
  const Result<PolicyFile> read = read_policy(file);
  ASSERT_TRUE(read.has_value());
  expect_same_policy(*read, sample_policy());
  EXPECT_EQ(open_descriptors(), descriptors);
}

// A gigabyte of NUL bytes after a valid policy (a sparse file) stops at the
// first of them.
TEST(PolicyJsonReadTest, HugeFileStopsAtFirstBadByte) {
  test::ScratchDir dir;
  const std::string file = dir.file("huge.json");
  test::write_file(file, seven_keys());
  ASSERT_EQ(::truncate(file.c_str(), off_t{1} << 30), 0);
  const Result<PolicyFile> result = read_policy(file);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "JSON error: trailing characters at line 9 column 2");
}

}  // namespace
}  // namespace ferolin::policy_file
