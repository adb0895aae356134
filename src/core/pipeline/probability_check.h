// A check of the probability column as a table is read for a method that
// reads it: probabilities outside [0, 1], and queries whose candidates'
// probabilities add up to more than 1 by more than rounding. Such values
// are scored as they are; callers warn, since a confidence computed from
// them (an entropy of negative "probabilities") means nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ferolin::pipeline {

// How far a query's probabilities may add up above 1 and still count as
// rounded (printed with three decimals, a handful of candidates).
inline constexpr double kProbabilitySumTolerance = 1e-3;

struct ProbabilityCounts {
  std::uint64_t outside_unit_interval = 0;  // rows whose probability is < 0 or > 1
  std::uint64_t queries_above_one = 0;      // queries whose probabilities sum above 1
};

class ProbabilityCheck {
 public:
  // Adds the probability of a candidate of query `query` (numbered from 0
  // in order of first sight); an absent or NaN probability adds nothing.
  void add(std::size_t query, std::optional<double> probability);
  // Adds the probability in `cell`, a cell that the table's reader has
  // checked (empty: absent). Most cells are plain decimals such as 0.7566,
  // which are read here far faster than a full conversion: the sums need
  // no more than three decimals, and such a cell is within [0, 1] anyway.
  void add_cell(std::size_t query, std::string_view cell);
  // Returns the value that add_cell() adds for `cell`: absent for an empty
  // cell, NaN for one that is no number.
  [[nodiscard]] static std::optional<double> cell_value(std::string_view cell);

  // Returns the counts over everything added.
  [[nodiscard]] ProbabilityCounts counts() const;

  // Adds what `part`, the check of a later part of the table read apart,
  // counted outside [0, 1], and takes its query `from`'s sum as the sum of
  // query `query`, a query first seen in that part: the same terms, added
  // in the same order from the same start. The rows of the part's queries
  // seen before must be added with add_to_sum(), in file order.
  void add_outside_of(const ProbabilityCheck& part) { outside_ += part.outside_; }
  void take_sum(std::size_t query, const ProbabilityCheck& part, std::size_t from);
  // Adds a probability (neither absent nor NaN) to the sum of query
  // `query` only: its row is counted by add_outside_of().
  void add_to_sum(std::size_t query, double probability) {
    if (query >= sums_.size()) sums_.resize(query + 1, 0.0);
    sums_[query] += probability;
  }

 private:
  std::vector<double> sums_;
  std::uint64_t outside_ = 0;
};

}  // namespace ferolin::pipeline
