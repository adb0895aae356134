#include "core/scoring/query_summary.h"

#include <array>
#include <cstddef>

#include "core/scoring/summary_record.h"

namespace ferolin::scoring {

CandidateView view_of(const table::CandidateRow& row) {
  return {row.rank,         row.score, row.probability, row.is_correct,
          row.candidate_id, row.group, row.confidence};
}

CandidateView view_of(const Candidate& candidate) {
  CandidateView view{candidate.rank,       candidate.score,        candidate.probability,
                     candidate.is_correct, candidate.candidate_id, std::nullopt,
                     std::nullopt};
  const CandidateDetails* details = candidate.details.get();
  if (details != nullptr && details->group) view.group = *details->group;
  return view;
}

QuerySummary summarize(const QueryRanking& query) {
  static const RecordLayout kLayout(kEveryNeed, false);
  std::array<std::byte, kMaxRecordSize> record;
  EntryPool unused(0);
  start_record(kLayout, record.data());
  for (const Candidate& candidate : query.candidates) {
    add_to_record(kLayout, record.data(), unused, view_of(candidate));
  }
  return read_record(kLayout, record.data(), unused);
}

}  // namespace ferolin::scoring
