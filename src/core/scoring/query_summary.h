// QuerySummary: everything the scoring methods, the curve and policy
// application read of one query's candidates, so that a table's rows never
// have to be held. Summaries are built candidate by candidate in list order
// (summary_record.h keeps them compactly while a table is read).
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "core/types.h"

namespace ferolin::scoring {

// The rank-ordered methods read at most this many leading candidates.
inline constexpr std::size_t kLeadingSize = 5;

// The fields of one candidate that a summary reads. It views the caller's
// strings and is valid only as long as they are.
struct CandidateView {
  std::uint64_t rank = 0;
  double score = 0.0;
  std::optional<double> probability;
  std::optional<bool> is_correct;
  std::string_view candidate_id;
  std::optional<std::string_view> group;
  std::optional<std::string_view> confidence;  // the own-confidence cell

  // What summaries call for the values they keep.
  [[nodiscard]] double score_value() const { return score; }
  [[nodiscard]] std::optional<double> probability_value() const { return probability; }
};

// One of the leading candidates in rank order.
struct LeadingCandidate {
  std::uint64_t rank = 0;
  double score = 0.0;
  // A missing probability is kept as NaN: every reader of this field treats
  // a missing and a NaN probability alike (the value is absent).
  double probability = std::numeric_limits<double>::quiet_NaN();
};

struct QuerySummary {
  // Number of candidates added.
  std::uint64_t count = 0;
  // Sum of (-p) * ln(p) over the probabilities in list order, 0 for p == 0,
  // starting at -0.0. Meaningless once `probability_missing` is set.
  double entropy_sum = -0.0;
  bool probability_missing = false;
  // Number of valid entries of `leading` (at most kLeadingSize).
  std::uint32_t leading_size = 0;
  // The first candidates of a stable sort by ascending rank, that is, by
  // (rank, position in the list); leading[0] is the top candidate.
  std::array<LeadingCandidate, kLeadingSize> leading{};
  // The top candidate's label.
  std::optional<bool> top_is_correct;
};

}  // namespace ferolin::scoring
