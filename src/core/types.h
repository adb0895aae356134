// The records that every part of ferolin exchanges, and the two method
// enumerations with their names. Records are plain values that own their
// strings and lists outright.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/keyed_hash.h"

namespace ferolin {

// The fields of one candidate row, defined once for every form a row takes:
// `Text` is std::string where the row owns its texts (the tests' plain
// reading) and std::string_view where it views a reader's buffers
// (table::CandidateRow).
template <typename Text>
struct CandidateFields {
  Text query_id{};
  Text candidate_id{};
  std::uint64_t rank = 0;
  double score = 0.0;
  std::optional<double> probability;
  std::optional<bool> is_correct;

  friend bool operator==(const CandidateFields&, const CandidateFields&) = default;
};

// The fields of a candidate that no computation reads except `group` (read
// only when a policy carries group thresholds).
template <typename Text>
struct CandidateDetailFields {
  std::optional<Text> smiles;
  std::optional<Text> inchikey;
  std::optional<Text> formula;
  std::optional<Text> target_inchikey;
  std::optional<Text> group;

  friend bool operator==(const CandidateDetailFields&, const CandidateDetailFields&) = default;
};

// One point of a risk-coverage curve.
struct RiskCoverageRow {
  double threshold = 0.0;
  std::uint64_t accepted = 0;
  std::uint64_t total = 0;
  double coverage = 0.0;
  std::uint64_t errors = 0;
  std::optional<double> risk;
};

enum class ScoringMethod {
  MaxProb,
  ScoreGap,
  Margin,
  Entropy,
  ScoreRatio,
  TopKGap,
  EffectiveK,
  CandidateCount,
};
inline constexpr int kScoringMethodCount = 8;

enum class CalibrationMethod { Empirical, Binomial, Crc };
inline constexpr int kCalibrationMethodCount = 3;

// The outcome of applying a policy to one query.
struct AnnotationDecision {
  std::string query_id;
  std::string candidate_id;
  double confidence = 0.0;
  bool accepted = false;
  double threshold = 0.0;
  std::string method;
};

// The format version that policies are written with and the only one that
// reading accepts.
inline constexpr std::string_view kPolicyVersion = "0.1.0";
// The producer tag of every policy that ferolin builds.
inline constexpr std::string_view kPolicyCreator = "ferolin";

// Thresholds by group label. Labels come from policy files, so the map's hash
// is keyed: crafted labels cannot all fall into one bucket.
using GroupThresholds = KeyedStringMap<double>;

// The scoring_method of a policy calibrated on a confidence the table carries
// (the top candidate's value in a column) rather than on one of the eight
// methods. It is no method's name, so ferolin.load_policy refuses such a
// policy as it refuses any unknown spelling.
inline constexpr std::string_view kConfidenceColumnMethod = "confidence_column";

// The column such a policy reads, stored as "confidence_col" and
// "lower_is_better" beside the policy's own keys.
struct ConfidenceColumn {
  std::string column;
  bool lower_is_better = false;
};

// A stored trust policy.
struct PolicyFile {
  std::string version;
  ScoringMethod scoring_method = ScoringMethod::MaxProb;
  double threshold = 0.0;
  double target_error_rate = 0.0;
  CalibrationMethod calibration_method = CalibrationMethod::Empirical;
  std::optional<double> confidence_level;
  std::string created_by;
  std::optional<std::string> group_col;
  std::optional<GroupThresholds> group_thresholds;
  // Set for a policy on a confidence column; `scoring_method` then means nothing.
  std::optional<ConfidenceColumn> confidence_column;
};

// Returns the display name ("MaxProb", ...), used in decisions.
[[nodiscard]] std::string_view display_name(ScoringMethod method);
// Returns the policy name ("max_prob", ...), used in policy files and dicts.
[[nodiscard]] std::string_view policy_name(ScoringMethod method);
[[nodiscard]] std::string_view policy_name(CalibrationMethod method);
// Returns the method whose policy name is exactly `name`, if any.
[[nodiscard]] std::optional<ScoringMethod> scoring_method_from_policy_name(std::string_view name);
[[nodiscard]] std::optional<CalibrationMethod> calibration_method_from_policy_name(
    std::string_view name);
// Returns "one of `max_prob`, `score_gap`, ..." in ordinal order, the list of
// valid spellings that "unknown variant" messages show.
[[nodiscard]] std::string scoring_policy_names_list();
[[nodiscard]] std::string calibration_policy_names_list();
// Returns "unknown variant `<spelling>`, expected one of ..." for a spelling
// that names no method, as policy files and policy dictionaries report it.
[[nodiscard]] std::string unknown_scoring_variant(std::string_view spelling);
[[nodiscard]] std::string unknown_calibration_variant(std::string_view spelling);

}  // namespace ferolin
