#include "core/metrics/risk_coverage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/scoring/dispatch.h"
#include "core/total_order.h"

namespace ferolin::metrics {
namespace {

struct ScoredLabel {
  double confidence;
  bool correct;
};

// The labelled pairs of a curve. Only pairs that can be accepted are kept;
// the others count in `total` alone.
struct LabelledPairs {
  std::vector<ScoredLabel> acceptable;
  std::uint64_t total = 0;

  void add(const scoring::QuerySummary& summary, ScoringMethod method) {
    if (summary.count == 0 || !summary.top_is_correct) return;
    add_labelled(scoring::score(summary, method), *summary.top_is_correct);
  }

  void add_labelled(std::optional<double> confidence, bool correct) {
    ++total;
    // A gap method yields NaN when infinities cancel. NaN equals nothing, not
    // even itself, so it cannot be a threshold: it is treated as absent.
    if (!confidence || std::isnan(*confidence)) return;
    acceptable.push_back({*confidence, correct});
  }
};

RiskCoverageRow make_row(double threshold, std::uint64_t accepted, std::uint64_t total,
                         std::uint64_t errors) {
  return {threshold, accepted,
          total,     static_cast<double>(accepted) / static_cast<double>(total),
          errors,    static_cast<double>(errors) / static_cast<double>(accepted)};
}

// Sorts descending in the total order, so that +0.0 comes before -0.0 and a
// row holding both carries the threshold +0.0; then merges equal values.
std::vector<RiskCoverageRow> walk(LabelledPairs pairs) {
  std::vector<ScoredLabel>& sorted = pairs.acceptable;
  std::sort(sorted.begin(), sorted.end(), [](const ScoredLabel& a, const ScoredLabel& b) {
    return total_order_key(a.confidence) > total_order_key(b.confidence);
  });
  std::vector<RiskCoverageRow> rows;
  std::uint64_t accepted = 0;
  std::uint64_t errors = 0;
  for (std::size_t i = 0; i < sorted.size();) {
    const double threshold = sorted[i].confidence;
    for (; i < sorted.size() && sorted[i].confidence == threshold; ++i) {
      ++accepted;
      if (!sorted[i].correct) ++errors;
    }
    rows.push_back(make_row(threshold, accepted, pairs.total, errors));
  }
  return rows;
}

}  // namespace

std::vector<RiskCoverageRow> compute_curve(const scoring::QuerySummaries& summaries,
                                           ScoringMethod method) {
  LabelledPairs pairs;
  for (std::size_t q = 0; q < summaries.size(); ++q) pairs.add(summaries.summary(q), method);
  return walk(std::move(pairs));
}

std::vector<RiskCoverageRow> compute_curve(std::span<const std::optional<double>> confidences,
                                           std::span<const std::optional<bool>> labels) {
  LabelledPairs pairs;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (labels[i]) pairs.add_labelled(confidences[i], *labels[i]);
  }
  return walk(std::move(pairs));
}

std::vector<RiskCoverageRow> compute_curve(std::span<const double> confidences,
                                           std::span<const std::uint8_t> correct) {
  LabelledPairs pairs;
  pairs.acceptable.reserve(confidences.size());
  for (std::size_t i = 0; i < correct.size(); ++i)
    pairs.add_labelled(confidences[i], correct[i] != 0);
  return walk(std::move(pairs));
}

}  // namespace ferolin::metrics
