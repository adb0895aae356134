#include "core/pipeline/probability_check.h"

#include <array>
#include <cmath>

#include "core/table/cell_parsing.h"

namespace ferolin::pipeline {

void ProbabilityCheck::add(std::size_t query, std::optional<double> probability) {
  if (query >= sums_.size()) sums_.resize(query + 1, 0.0);
  if (!probability || std::isnan(*probability)) return;
  if (*probability < 0.0 || *probability > 1.0) ++outside_;
  add_to_sum(query, *probability);
}

namespace {

constexpr std::array<double, 19> kPowersOfTen = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
    1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

// The value of a cell of the form 0, 1, 0.ddd or .ddd (at most 18 digits
// after the point, rounded once), else nothing.
std::optional<double> plain_unit_decimal(std::string_view cell) {
  if (cell == "0" || cell == "1") return cell == "1" ? 1.0 : 0.0;
  if (cell.starts_with("0.")) cell.remove_prefix(1);
  if (cell.size() < 2 || cell.size() > 19 || cell[0] != '.') return std::nullopt;
  std::uint64_t digits = 0;
  for (const char c : cell.substr(1)) {
    if (c < '0' || c > '9') return std::nullopt;
    digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return static_cast<double>(digits) / kPowersOfTen[cell.size() - 1];
}

}  // namespace

std::optional<double> ProbabilityCheck::cell_value(std::string_view cell) {
  if (cell.empty()) return std::nullopt;
  if (const std::optional<double> plain = plain_unit_decimal(cell)) return plain;
  return table::parse_float(cell).value_or(std::nan(""));
}

void ProbabilityCheck::add_cell(std::size_t query, std::string_view cell) {
  add(query, cell_value(cell));
}

void ProbabilityCheck::take_sum(std::size_t query, const ProbabilityCheck& part,
                                std::size_t from) {
  if (query >= sums_.size()) sums_.resize(query + 1, 0.0);
  if (from < part.sums_.size()) sums_[query] = part.sums_[from];
}

ProbabilityCounts ProbabilityCheck::counts() const {
  ProbabilityCounts counts{.outside_unit_interval = outside_};
  for (const double sum : sums_) counts.queries_above_one += sum > 1.0 + kProbabilitySumTolerance;
  return counts;
}

}  // namespace ferolin::pipeline
