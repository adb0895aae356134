// A plain reading of the scoring methods, the curve and policy decisions over
// a query's full candidate list (a stable sort by rank, sums in list order),
// against which the summary-based code is checked bit for bit by the
// property test and the scoring fuzz target.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/types.h"
#include "reference/candidate_records.h"

namespace ferolin::testing {

using reference::Candidate;
using reference::CandidateDetails;
using reference::QueryRanking;

inline const Candidate& plain_top(const QueryRanking& query) {
  const Candidate* top = &query.candidates.front();
  for (const Candidate& c : query.candidates) {
    if (c.rank < top->rank) top = &c;
  }
  return *top;
}

inline std::vector<const Candidate*> plain_rank_order(const QueryRanking& query) {
  std::vector<const Candidate*> order;
  for (const Candidate& c : query.candidates) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(),
                   [](const Candidate* a, const Candidate* b) { return a->rank < b->rank; });
  return order;
}

inline std::optional<double> plain_entropy_sum(const QueryRanking& query) {
  std::vector<double> ps;
  for (const Candidate& c : query.candidates) {
    if (!c.probability) return std::nullopt;
    ps.push_back(*c.probability);
  }
  double h = -0.0;
  for (double p : ps) h += p == 0.0 ? 0.0 : (-p) * std::log(p);
  return h;
}

inline std::optional<double> plain_finite(double v) {
  return std::isfinite(v) ? std::optional(v) : std::nullopt;
}

inline std::optional<double> plain_gap(const std::vector<const Candidate*>& order,
                                       ScoringMethod method) {
  const double s1 = order[0]->score;
  const double s2 = order[1]->score;
  switch (method) {
    case ScoringMethod::ScoreGap:
      if (std::isnan(s1) || std::isnan(s2)) return std::nullopt;
      return s1 - s2;
    case ScoringMethod::ScoreRatio:
      if (std::isnan(s1) || std::isnan(s2) || s2 <= 0.0) return std::nullopt;
      return plain_finite(s1 / s2);
    case ScoringMethod::Margin: {
      const auto p1 = order[0]->probability;
      const auto p2 = order[1]->probability;
      if (!p1 || !p2 || std::isnan(*p1) || std::isnan(*p2)) return std::nullopt;
      return *p1 - *p2;
    }
    default: {
      const std::size_t m = std::min<std::size_t>(order.size(), 5);
      double sum = -0.0;
      if (std::isnan(s1)) return std::nullopt;
      for (std::size_t i = 1; i < m; ++i) {
        if (std::isnan(order[i]->score)) return std::nullopt;
        sum += order[i]->score;
      }
      return s1 - sum / static_cast<double>(m - 1);
    }
  }
}

inline std::optional<double> plain_confidence(const QueryRanking& query, ScoringMethod method) {
  const std::size_t n = query.candidates.size();
  if (n == 0) return std::nullopt;
  const auto h = plain_entropy_sum(query);
  switch (method) {
    case ScoringMethod::MaxProb: {
      const auto p = plain_top(query).probability;
      if (!p || std::isnan(*p)) return std::nullopt;
      return p;
    }
    case ScoringMethod::Entropy:
      if (n == 1) return 1.0;
      if (!h) return std::nullopt;
      return plain_finite(1.0 - *h / std::log(static_cast<double>(n)));
    case ScoringMethod::EffectiveK:
      if (!h) return std::nullopt;
      return plain_finite(std::exp(-*h));
    case ScoringMethod::CandidateCount:
      return 1.0 / static_cast<double>(n);
    default:
      if (n < 2) return std::nullopt;
      return plain_gap(plain_rank_order(query), method);
  }
}

// Present confidences first, descending, +0.0 before -0.0; NaN counts as
// absent. Then one row per run of equal values.
inline std::vector<RiskCoverageRow> plain_curve(const std::vector<QueryRanking>& queries,
                                                ScoringMethod method) {
  std::vector<std::pair<std::optional<double>, bool>> pairs;
  for (const QueryRanking& q : queries) {
    if (q.candidates.empty() || !plain_top(q).is_correct) continue;
    auto c = plain_confidence(q, method);
    if (c && std::isnan(*c)) c.reset();
    pairs.emplace_back(c, *plain_top(q).is_correct);
  }
  const auto before = [](const auto& a, const auto& b) {
    if (!a.first || !b.first) return a.first.has_value() && !b.first.has_value();
    if (*a.first != *b.first) return *a.first > *b.first;
    return !std::signbit(*a.first) && std::signbit(*b.first);
  };
  std::stable_sort(pairs.begin(), pairs.end(), before);
  std::vector<RiskCoverageRow> rows;
  const auto n = static_cast<std::uint64_t>(pairs.size());
  std::uint64_t accepted = 0, errors = 0;
  for (std::size_t i = 0; i < pairs.size() && pairs[i].first;) {
    const double t = *pairs[i].first;
    for (; i < pairs.size() && pairs[i].first && *pairs[i].first == t; ++i) {
      ++accepted;
      errors += pairs[i].second ? 0 : 1;
    }
    rows.push_back(
        {t, accepted, n, double(accepted) / double(n), errors, double(errors) / double(accepted)});
  }
  return rows;
}

inline AnnotationDecision plain_decision(const QueryRanking& q, const PolicyFile& policy) {
  const Candidate& top = plain_top(q);
  const double confidence =
      plain_confidence(q, policy.scoring_method).value_or(std::numeric_limits<double>::quiet_NaN());
  double threshold = policy.threshold;
  const CandidateDetails* details = top.details.get();
  if (details && details->group && policy.group_thresholds) {
    const auto found = policy.group_thresholds->find(*details->group);
    if (found != policy.group_thresholds->end()) threshold = found->second;
  }
  return {q.query_id, top.candidate_id,
          confidence, std::isfinite(confidence) && confidence >= threshold,
          threshold,  std::string(display_name(policy.scoring_method))};
}

}  // namespace ferolin::testing
