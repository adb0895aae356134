#include "core/pipeline/probability_check.h"

#include <cmath>

namespace ferolin::pipeline {

void ProbabilityCheck::add(std::size_t query, std::optional<double> probability) {
  if (query >= sums_.size()) sums_.resize(query + 1, 0.0);
  if (!probability || std::isnan(*probability)) return;
  if (*probability < 0.0 || *probability > 1.0) ++outside_;
  sums_[query] += *probability;
}

ProbabilityCounts ProbabilityCheck::counts() const {
  ProbabilityCounts counts{.outside_unit_interval = outside_};
  for (const double sum : sums_) counts.queries_above_one += sum > 1.0 + kProbabilitySumTolerance;
  return counts;
}

}  // namespace ferolin::pipeline
