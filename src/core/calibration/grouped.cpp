#include "core/calibration/grouped.h"

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "core/metrics/risk_coverage.h"
#include "core/policy/query_decisions.h"

namespace ferolin::calibration {
namespace {

// One group's labelled queries, in input order.
struct GroupData {
  std::vector<std::optional<double>> confidences;
  std::vector<std::optional<bool>> labels;
  ThresholdOutcome outcome;
};

// Keyed by the label's bytes: string_view compares as unsigned bytes, so
// the map's order is the byte order the report promises.
using Groups = std::map<std::string_view, GroupData>;

Groups collect_groups(std::span<const std::optional<double>> confidences,
                      std::span<const std::optional<bool>> labels,
                      std::span<const std::optional<std::string>> groups) {
  Groups by_label;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (!labels[i] || !groups[i]) continue;
    GroupData& group = by_label[*groups[i]];
    group.confidences.push_back(confidences[i]);
    group.labels.push_back(labels[i]);
  }
  return by_label;
}

void count(ThresholdOutcome& outcome, bool accepted, bool correct) {
  ++outcome.labelled;
  if (!accepted) return;
  ++outcome.accepted;
  if (!correct) ++outcome.errors;
}

void finish(ThresholdOutcome& outcome) {
  if (outcome.accepted == 0) return;
  outcome.risk = static_cast<double>(outcome.errors) / static_cast<double>(outcome.accepted);
}

// Decides every labelled query by the grouped policy, and once more by the
// global threshold alone, and counts the outcomes where they belong.
void count_outcomes(std::span<const std::optional<double>> confidences,
                    std::span<const std::optional<bool>> labels,
                    std::span<const std::optional<std::string>> groups, Groups& by_label,
                    GroupedCalibration& result) {
  const std::vector<policy::QueryDecision> decisions =
      policy::decide_queries(confidences, groups, result.policy);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (!labels[i]) continue;
    const bool correct = *labels[i];
    const bool accepted = decisions[i].accepted;
    count(result.grouped_policy, accepted, correct);
    const double confidence = confidences[i].value_or(std::numeric_limits<double>::quiet_NaN());
    count(result.global_only, policy::passes_threshold(confidence, result.policy.threshold),
          correct);
    count(groups[i] ? by_label[*groups[i]].outcome : result.ungrouped, accepted, correct);
  }
}

}  // namespace

Result<GroupedCalibration> calibrate_groups(std::span<const std::optional<double>> confidences,
                                            std::span<const std::optional<bool>> labels,
                                            std::span<const std::optional<std::string>> groups,
                                            const GroupedRequest& request) {
  if (confidences.size() != labels.size() || groups.size() != labels.size()) {
    return std::unexpected(FerolinError::invalid_argument(
        "confidences, labels and groups differ in length: " + std::to_string(confidences.size()) +
        ", " + std::to_string(labels.size()) + " and " + std::to_string(groups.size())));
  }
  Result<PolicyFile> policy =
      calibrate_policy(metrics::compute_curve(confidences, labels), request.calibration);
  if (!policy) return std::unexpected(std::move(policy.error()));

  GroupedCalibration result;
  result.policy = std::move(*policy);
  result.policy.group_col = request.group_col;
  auto& own_thresholds = result.policy.group_thresholds.emplace();
  Groups by_label = collect_groups(confidences, labels, groups);
  const std::uint64_t min_group = std::max<std::uint64_t>(request.min_group, 1);
  for (auto& [label, group] : by_label) {
    if (group.labels.size() < min_group) continue;
    const Result<std::optional<double>> own = choose_threshold(
        metrics::compute_curve(group.confidences, group.labels), request.calibration);
    if (!own) return std::unexpected(own.error());
    own_thresholds.emplace(std::string(label), own->value_or(kNoThreshold));
  }

  count_outcomes(confidences, labels, groups, by_label, result);
  finish(result.ungrouped);
  finish(result.grouped_policy);
  finish(result.global_only);
  for (auto& [label, group] : by_label) {
    finish(group.outcome);
    const auto own = own_thresholds.find(std::string(label));
    result.groups.push_back(
        {std::string(label),
         own == own_thresholds.end() ? std::nullopt : std::optional(own->second), group.outcome});
  }
  return result;
}

}  // namespace ferolin::calibration
