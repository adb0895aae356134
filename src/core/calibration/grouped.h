// Grouped (Mondrian) calibration: one threshold per group of queries (an
// ionisation mode, an instrument, a compound class), each calibrated on the
// group's own labelled queries, beside the global threshold that every
// other query falls back to.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/calibration/calibrate_policy.h"
#include "core/error.h"
#include "core/types.h"

namespace ferolin::calibration {

// Groups with fewer labelled queries than this get no threshold of their own.
inline constexpr std::uint64_t kDefaultMinGroup = 50;

struct GroupedRequest {
  CalibrationRequest calibration;
  // The name of the group column, kept in the policy.
  std::string group_col;
  // The fewest labelled queries a group needs for a threshold of its own; a
  // group without any labelled query never gets one.
  std::uint64_t min_group = kDefaultMinGroup;
};

// Labelled queries decided against a threshold, by the policy's rule.
struct ThresholdOutcome {
  std::uint64_t labelled = 0;
  std::uint64_t accepted = 0;  // confidence finite and at least the threshold
  std::uint64_t errors = 0;    // accepted, with a wrong top candidate
  std::optional<double> risk;  // errors / accepted; absent when none is accepted
};

struct GroupReport {
  std::string group;
  // The group's own threshold (kNoThreshold when its curve has no row that
  // qualifies); absent when the group falls back to the global threshold.
  std::optional<double> threshold;
  // At the threshold that applies to the group, its own or the global one.
  ThresholdOutcome outcome;
};

struct GroupedCalibration {
  // The global threshold and the group thresholds (only groups with an
  // entry, the map present even when empty) with the group column's name.
  PolicyFile policy;
  // One report per group label among the labelled queries, in byte order.
  std::vector<GroupReport> groups;
  // Labelled queries without a group label, at the global threshold.
  ThresholdOutcome ungrouped;
  // All labelled queries under the grouped policy, and all at the global
  // threshold alone.
  ThresholdOutcome grouped_policy;
  ThresholdOutcome global_only;
};

// Returns the grouped calibration of the per-query data (`confidences`,
// `labels` and `groups`, one entry a query, as QueryTable holds them;
// unlabelled queries are left out): the global threshold calibrated on all
// labelled queries and each group's on its own, both as choose_threshold
// picks them on the curve compute_curve builds. Fails as choose_threshold
// does, and with InvalidArgument when the spans differ in length.
[[nodiscard]] Result<GroupedCalibration> calibrate_groups(
    std::span<const std::optional<double>> confidences, std::span<const std::optional<bool>> labels,
    std::span<const std::optional<std::string>> groups, const GroupedRequest& request);

}  // namespace ferolin::calibration
