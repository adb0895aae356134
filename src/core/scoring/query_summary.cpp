#include "core/scoring/query_summary.h"

#include <algorithm>
#include <cmath>

namespace ferolin::scoring {
namespace {

void add_entropy_term(QuerySummary& summary, const std::optional<double>& probability) {
  if (!probability) {
    summary.probability_missing = true;
    return;
  }
  // Once a probability is missing the sum is never read again.
  if (summary.probability_missing) return;
  const double p = *probability;
  if (p == 0.0) {
    // An exact zero contributes nothing (0 * ln 0 would be NaN), yet the
    // addition itself stays: it turns a starting -0.0 into +0.0.
    summary.entropy_sum += 0.0;
    return;
  }
  summary.entropy_sum += (-p) * std::log(p);
}

// Returns the position the candidate takes among the leading entries, or
// kLeadingSize when they are full and it ranks at or below all of them. A
// candidate goes after every entry of equal rank: it comes later in the list.
std::size_t insert_leading(QuerySummary& summary, const CandidateView& candidate) {
  std::size_t at = summary.leading_size;
  while (at > 0 && summary.leading[at - 1].rank > candidate.rank) --at;
  if (at == kLeadingSize) return at;
  const std::size_t last = std::min<std::size_t>(summary.leading_size, kLeadingSize - 1);
  for (std::size_t i = last; i > at; --i) summary.leading[i] = summary.leading[i - 1];
  summary.leading[at] = {candidate.rank, candidate.score,
                         candidate.probability.value_or(std::numeric_limits<double>::quiet_NaN())};
  if (summary.leading_size < kLeadingSize) ++summary.leading_size;
  return at;
}

void take_top(QuerySummary& summary, const CandidateView& candidate, TopIds ids) {
  summary.top_is_correct = candidate.is_correct;
  if (ids == TopIds::Drop) return;
  summary.top_candidate_id.assign(candidate.candidate_id);
  if (!candidate.group) {
    summary.top_group.reset();
  } else if (summary.top_group) {
    summary.top_group->assign(*candidate.group);
  } else {
    summary.top_group.emplace(*candidate.group);
  }
}

}  // namespace

void add_candidate(QuerySummary& summary, const CandidateView& candidate, TopIds ids,
                   EntropySum entropy) {
  ++summary.count;
  if (entropy == EntropySum::Keep) add_entropy_term(summary, candidate.probability);
  // Only a strictly smaller rank takes position 0, so a candidate that loses
  // the top place never gets it back and one copy of the top's fields holds.
  if (insert_leading(summary, candidate) == 0) take_top(summary, candidate, ids);
}

CandidateView view_of(const table::CandidateRow& row) {
  return {row.rank, row.score, row.probability, row.is_correct, row.candidate_id, row.group};
}

CandidateView view_of(const Candidate& candidate) {
  CandidateView view{candidate.rank,       candidate.score,        candidate.probability,
                     candidate.is_correct, candidate.candidate_id, std::nullopt};
  const CandidateDetails* details = candidate.details.get();
  if (details != nullptr && details->group) view.group = *details->group;
  return view;
}

QuerySummary summarize(const QueryRanking& query, TopIds ids) {
  QuerySummary summary;
  for (const Candidate& candidate : query.candidates)
    add_candidate(summary, view_of(candidate), ids, EntropySum::Keep);
  return summary;
}

}  // namespace ferolin::scoring
