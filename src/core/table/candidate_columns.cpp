#include "core/table/candidate_columns.h"

#include <algorithm>
#include <array>
#include <string>

namespace ferolin::table {
namespace {

constexpr std::array<std::string_view, 10> kColumnNames = {
    "query_id", "candidate_id", "rank",    "score",           "probability",
    "smiles",   "inchikey",     "formula", "target_inchikey", "is_correct"};
constexpr std::array<Column, 4> kRequired = {Column::QueryId, Column::CandidateId, Column::Rank,
                                             Column::Score};

std::optional<Column> known_column(std::string_view name) {
  const auto* hit = std::ranges::find(kColumnNames, name);
  if (hit == kColumnNames.end()) return std::nullopt;
  return static_cast<Column>(hit - kColumnNames.begin());
}

}  // namespace

std::string_view column_name(Column column) {
  return kColumnNames[static_cast<std::size_t>(column)];
}

Result<ColumnPlan> plan_columns(std::span<const std::string_view> header) {
  for (const Column required : kRequired) {
    if (std::ranges::find(header, column_name(required)) == header.end()) {
      return std::unexpected(FerolinError::missing_column(std::string(column_name(required))));
    }
  }
  ColumnPlan plan;
  std::array<bool, kColumnNames.size()> seen{};
  for (std::size_t i = 0; i < header.size(); ++i) {
    const auto column = known_column(header[i]);
    if (!column) continue;
    if (seen[static_cast<std::size_t>(*column)]) {
      plan.duplicate = *column;
      break;
    }
    seen[static_cast<std::size_t>(*column)] = true;
    plan.known.push_back({i, *column});
  }
  return plan;
}

}  // namespace ferolin::table
