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

// The header name of each column: its own, or the one `header_names` gives.
using HeaderNames = std::array<std::string_view, kColumnNames.size()>;

HeaderNames header_names_of(std::span<const HeaderName> renamed) {
  HeaderNames names = kColumnNames;
  for (const HeaderName& entry : renamed)
    names[static_cast<std::size_t>(entry.column)] = entry.name;
  return names;
}

std::optional<Column> known_column(const HeaderNames& names, std::string_view name) {
  const auto* hit = std::ranges::find(names, name);
  if (hit == names.end()) return std::nullopt;
  return static_cast<Column>(hit - names.begin());
}

}  // namespace

std::string_view column_name(Column column) {
  return kColumnNames[static_cast<std::size_t>(column)];
}

Result<ColumnPlan> plan_columns(std::span<const std::string_view> header,
                                std::span<const HeaderName> header_names,
                                const std::optional<std::string>& group_column,
                                const std::optional<std::string>& confidence_column) {
  const HeaderNames names = header_names_of(header_names);
  for (const Column required : kRequired) {
    const std::string_view name = names[static_cast<std::size_t>(required)];
    if (std::ranges::find(header, name) == header.end()) {
      return std::unexpected(FerolinError::missing_column(std::string(name)));
    }
  }
  // A column the caller renamed is one they expect: its absence is a
  // mistake in the name, not an optional column left out.
  for (const HeaderName& entry : header_names) {
    if (std::ranges::find(header, entry.name) == header.end()) {
      return std::unexpected(FerolinError::missing_column(entry.name));
    }
  }
  ColumnPlan plan;
  if (group_column) {
    const auto hit = std::ranges::find(header, *group_column);
    if (hit == header.end()) return std::unexpected(FerolinError::missing_column(*group_column));
    plan.group_field = static_cast<std::size_t>(hit - header.begin());
  }
  if (confidence_column) {
    const auto hit = std::ranges::find(header, *confidence_column);
    if (hit == header.end()) {
      return std::unexpected(FerolinError::missing_column(*confidence_column));
    }
    plan.confidence_field = static_cast<std::size_t>(hit - header.begin());
  }
  std::array<bool, kColumnNames.size()> seen{};
  for (std::size_t i = 0; i < header.size(); ++i) {
    const auto column = known_column(names, header[i]);
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
