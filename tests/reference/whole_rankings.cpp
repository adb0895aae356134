#include "reference/whole_rankings.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

#include "core/metrics/risk_coverage.h"
#include "core/policy/query_decisions.h"
#include "core/scoring/dispatch.h"
#include "core/scoring/summary_record.h"

namespace ferolin::reference {
namespace {

// The top candidate: the first of the lowest rank.
const Candidate& top_of(const QueryRanking& query) {
  const Candidate* top = &query.candidates.front();
  for (const Candidate& candidate : query.candidates) {
    if (candidate.rank < top->rank) top = &candidate;
  }
  return *top;
}

}  // namespace

scoring::CandidateView view_of(const Candidate& candidate) {
  scoring::CandidateView view{candidate.rank,       candidate.score,        candidate.probability,
                              candidate.is_correct, candidate.candidate_id, std::nullopt,
                              std::nullopt};
  const CandidateDetails* details = candidate.details.get();
  if (details != nullptr && details->group) view.group = *details->group;
  return view;
}

scoring::CandidateView view_of(const table::CandidateRow& row) {
  return {row.rank,         row.score, row.probability, row.is_correct,
          row.candidate_id, row.group, row.confidence};
}

scoring::QuerySummary summarize(const QueryRanking& query) {
  static const scoring::RecordLayout kLayout(scoring::kEveryNeed, false);
  std::array<std::byte, scoring::kMaxRecordSize> record;
  scoring::EntryPool unused(0);
  scoring::start_record(kLayout, record.data());
  for (const Candidate& candidate : query.candidates) {
    scoring::add_to_record(kLayout, record.data(), unused, view_of(candidate));
  }
  return scoring::read_record(kLayout, record.data(), unused);
}

std::optional<double> compute_confidence(const QueryRanking& query, ScoringMethod method) {
  return scoring::score(summarize(query), method);
}

std::vector<RiskCoverageRow> compute_curve(const std::vector<QueryRanking>& queries,
                                           ScoringMethod method) {
  std::vector<std::optional<double>> confidences;
  std::vector<std::optional<bool>> labels;
  for (const QueryRanking& query : queries) {
    if (query.candidates.empty()) continue;
    const scoring::QuerySummary summary = summarize(query);
    confidences.push_back(scoring::score(summary, method));
    labels.push_back(summary.top_is_correct);
  }
  return metrics::compute_curve(confidences, labels);
}

std::vector<AnnotationDecision> apply_policy(const std::vector<QueryRanking>& queries,
                                             const PolicyFile& policy) {
  std::vector<AnnotationDecision> decisions;
  for (const QueryRanking& query : queries) {
    if (query.candidates.empty()) continue;
    const scoring::CandidateView top = view_of(top_of(query));
    const double confidence = compute_confidence(query, policy.scoring_method)
                                  .value_or(std::numeric_limits<double>::quiet_NaN());
    const double threshold = policy::threshold_for(top.group, policy);
    decisions.push_back({query.query_id, std::string(top.candidate_id), confidence,
                         policy::passes_threshold(confidence, threshold), threshold,
                         std::string(display_name(policy.scoring_method))});
  }
  return decisions;
}

}  // namespace ferolin::reference
