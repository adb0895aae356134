// AURC, E-AURC and AUGRC: the numbers that summarise a risk-coverage curve.
#pragma once

#include <cstdint>
#include <span>

#include "core/types.h"

namespace ferolin::metrics {

// Returns the trapezoid from (previous_coverage, previous_risk) to
// (coverage, risk): the one step of every area here, kept in one place so
// that areas summed elsewhere (the bootstrap's weighted walk) agree with
// these to the last bit.
[[nodiscard]] inline double trapezoid_step(double previous_risk, double risk,
                                           double previous_coverage, double coverage) {
  return (previous_risk + risk) * (coverage - previous_coverage) * 0.5;
}

// Returns the area under the risk-coverage curve by the trapezoid rule from
// (coverage 0, risk 0), reading the rows in list order; an absent risk
// counts as 0. Returns NaN for an empty curve.
[[nodiscard]] double compute_aurc(std::span<const RiskCoverageRow> curve);

// Returns AURC minus the area of a perfect confidence on the same labels,
// ln(a) * a + (1 - a) with a the accuracy at the last row. Returns NaN when
// the curve is empty, the area is NaN, the last row does not reach full
// coverage, or a is not strictly between 0 and 1.
[[nodiscard]] double compute_eaurc(std::span<const RiskCoverageRow> curve);

// Returns `area` minus the area of a perfect confidence, given the last
// row's counts: what compute_eaurc returns for a non-empty curve of that
// area and last row.
[[nodiscard]] double excess_area(double area, std::uint64_t last_accepted,
                                 std::uint64_t last_errors, std::uint64_t total);

// Returns the area under the generalized risk-coverage curve: as AURC, but
// with each row's generalized risk errors / total (accepted errors over all
// labelled queries) in place of its risk. Unlike AURC it does not weigh the
// few queries of low coverage up. Returns NaN for an empty curve, and a row
// with total 0 makes it NaN.
[[nodiscard]] double compute_augrc(std::span<const RiskCoverageRow> curve);

}  // namespace ferolin::metrics
