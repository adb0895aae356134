// Short ways for tests to write candidates and queries, and to compare
// optional floats bit for bit.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/types.h"
#include "reference/candidate_records.h"

namespace ferolin::testing {

using reference::Candidate;
using reference::QueryRanking;

struct CandidateSpec {
  std::uint64_t rank = 1;
  double score = 0.0;
  std::optional<double> probability{};
  std::optional<bool> correct{};
  std::string id{};
  std::optional<std::string> group{};
};

inline Candidate make_candidate(const std::string& query_id, const CandidateSpec& spec) {
  Candidate candidate;
  candidate.query_id = query_id;
  candidate.candidate_id = spec.id;
  candidate.rank = spec.rank;
  candidate.score = spec.score;
  candidate.probability = spec.probability;
  candidate.is_correct = spec.correct;
  if (spec.group) candidate.details.mut().group = spec.group;
  return candidate;
}

inline QueryRanking make_query(std::string query_id, const std::vector<CandidateSpec>& specs) {
  QueryRanking query{std::move(query_id), {}};
  for (const CandidateSpec& spec : specs) {
    query.candidates.push_back(make_candidate(query.query_id, spec));
  }
  return query;
}

inline PolicyFile make_policy(ScoringMethod method, double threshold,
                              std::optional<GroupThresholds> group_thresholds = std::nullopt) {
  PolicyFile policy;
  policy.scoring_method = method;
  policy.threshold = threshold;
  policy.group_thresholds = std::move(group_thresholds);
  return policy;
}

// True when both are absent, or both present with identical bits.
inline bool same_bits(std::optional<double> a, std::optional<double> b) {
  if (!a || !b) return !a && !b;
  return std::bit_cast<std::uint64_t>(*a) == std::bit_cast<std::uint64_t>(*b);
}

inline std::string describe(std::optional<double> value) {
  if (!value) return "absent";
  std::ostringstream out;
  out.precision(17);
  out << *value << " (bits " << std::hex << std::bit_cast<std::uint64_t>(*value) << ")";
  return out.str();
}

}  // namespace ferolin::testing
