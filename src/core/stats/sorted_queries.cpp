#include "core/stats/sorted_queries.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/policy/query_decisions.h"
#include "core/total_order.h"

namespace ferolin::stats {
namespace {

struct Labelled {
  double confidence;
  bool usable;  // present and not NaN: NaN equals nothing, so it is no row
  bool wrong;
};

std::vector<Labelled> collect(std::span<const std::optional<double>> confidences,
                              std::span<const std::optional<bool>> labels, std::uint64_t labelled) {
  std::vector<Labelled> queries;
  queries.reserve(labelled);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (!labels[i]) continue;
    const std::optional<double>& confidence = confidences[i];
    const bool usable = confidence && !std::isnan(*confidence);
    queries.push_back({usable ? *confidence : 0.0, usable, !*labels[i]});
  }
  return queries;
}

}  // namespace

Result<SortedQueries> sort_labelled_queries(std::span<const std::optional<double>> confidences,
                                            std::span<const std::optional<bool>> labels,
                                            double threshold) {
  if (confidences.size() != labels.size()) {
    return std::unexpected(FerolinError::invalid_argument(
        "confidences and labels differ in length: " + std::to_string(confidences.size()) + " and " +
        std::to_string(labels.size())));
  }
  const auto labelled = static_cast<std::uint64_t>(
      std::count_if(labels.begin(), labels.end(), [](const auto& l) { return l.has_value(); }));
  if (labelled > kMaxBootstrapQueries) {
    return std::unexpected(FerolinError::invalid_argument(
        "the bootstrap takes at most " + std::to_string(kMaxBootstrapQueries) +
        " labelled queries, got " + std::to_string(labelled)));
  }
  std::vector<Labelled> queries = collect(confidences, labels, labelled);
  // Among equal confidences the correct queries come first, so that the
  // positions depend on the (confidence, label) pairs alone, not on the
  // order of the queries: rows in another order, or the same queries merged
  // from shards, give the same replicates. Stable, so that the positions are
  // the same with every standard library.
  std::stable_sort(queries.begin(), queries.end(), [](const Labelled& a, const Labelled& b) {
    if (a.usable != b.usable) return a.usable;
    if (!a.usable) return false;
    const std::int64_t key_a = total_order_key(a.confidence);
    const std::int64_t key_b = total_order_key(b.confidence);
    if (key_a != key_b) return key_a > key_b;
    return !a.wrong && b.wrong;
  });

  SortedQueries sorted;
  sorted.total = labelled;
  sorted.acceptable = static_cast<std::uint64_t>(
      std::find_if(queries.begin(), queries.end(), [](const Labelled& q) { return !q.usable; }) -
      queries.begin());
  sorted.flags.resize(sorted.acceptable);
  for (std::uint64_t i = 0; i < sorted.acceptable; ++i) {
    // Ordinary equality ends a row where compute_curve does (+0.0 == -0.0).
    const bool row_end =
        i + 1 == sorted.acceptable || queries[i + 1].confidence != queries[i].confidence;
    sorted.flags[i] = static_cast<std::uint8_t>((queries[i].wrong ? SortedQueries::kWrong : 0) |
                                                (row_end ? SortedQueries::kRowEnd : 0));
  }
  std::uint64_t p = 0;
  while (p < sorted.acceptable &&
         queries[p].confidence == std::numeric_limits<double>::infinity()) {
    ++p;
  }
  sorted.accepted_begin = p;
  // A policy accepts a finite confidence of at least the threshold: after
  // the +inf run, the accepted positions are one run that ends before -inf.
  while (p < sorted.acceptable && policy::passes_threshold(queries[p].confidence, threshold)) ++p;
  sorted.accepted_end = p;
  sorted.fractions.resize(labelled + 1);
  for (std::uint64_t k = 0; k <= labelled; ++k) {
    sorted.fractions[k] = static_cast<double>(k) / static_cast<double>(labelled);
  }
  return sorted;
}

}  // namespace ferolin::stats
