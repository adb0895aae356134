// QuerySummary: everything the scoring methods, the curve and policy
// application read of one query, built candidate by candidate in list order
// so that a table's rows never have to be held.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/table/candidate_row.h"
#include "core/types.h"

namespace ferolin::scoring {

// The rank-ordered methods read at most this many leading candidates.
inline constexpr std::size_t kLeadingSize = 5;

// Whether a summary copies its top candidate's `candidate_id` and `group`.
// Only policy application needs them; the curve and calibration do not.
enum class TopIds { Drop, Keep };

// Whether a summary sums the entropy terms of its probabilities. Only the
// entropy and effective-k methods read the sum, and the logarithm it takes
// for every candidate is a measurable share of streaming a large table.
enum class EntropySum { Keep, Skip };

// The fields of one candidate that a summary reads. It views the caller's
// strings and is valid only as long as they are.
struct CandidateView {
  std::uint64_t rank = 0;
  double score = 0.0;
  std::optional<double> probability;
  std::optional<bool> is_correct;
  std::string_view candidate_id;
  std::optional<std::string_view> group;
};

// One of the leading candidates in rank order.
struct LeadingCandidate {
  std::uint64_t rank = 0;
  double score = 0.0;
  // A missing probability is kept as NaN: every reader of this field treats
  // a missing and a NaN probability alike (the value is absent), and the
  // entry stays at 24 bytes.
  double probability = std::numeric_limits<double>::quiet_NaN();
};

struct QuerySummary {
  // Number of candidates added.
  std::uint64_t count = 0;
  // Sum of (-p) * ln(p) over the probabilities in list order, 0 for p == 0,
  // starting at -0.0. Meaningless once `probability_missing` is set. Both
  // stay at their initial values with EntropySum::Skip.
  double entropy_sum = -0.0;
  bool probability_missing = false;
  // Number of valid entries of `leading` (at most kLeadingSize).
  std::uint32_t leading_size = 0;
  // The first candidates of a stable sort by ascending rank, that is, by
  // (rank, position in the list); leading[0] is the top candidate.
  std::array<LeadingCandidate, kLeadingSize> leading{};
  // The top candidate's label.
  std::optional<bool> top_is_correct;
  // The top candidate's `candidate_id` and `group`; filled only with
  // TopIds::Keep, otherwise empty and absent.
  std::string top_candidate_id;
  std::optional<std::string> top_group;
};

// Adds the next candidate of the query, in list order. Allocates only when
// the candidate becomes the new top and `ids` is TopIds::Keep.
void add_candidate(QuerySummary& summary, const CandidateView& candidate, TopIds ids,
                   EntropySum entropy);

// Returns the view of a table row.
[[nodiscard]] CandidateView view_of(const table::CandidateRow& row);
// Returns the view of a candidate record; it borrows the record's strings.
[[nodiscard]] CandidateView view_of(const Candidate& candidate);

// Returns the summary of all the query's candidates in list order, with its
// entropy sum.
[[nodiscard]] QuerySummary summarize(const QueryRanking& query, TopIds ids);

}  // namespace ferolin::scoring
