// The columns of a candidates table: their names and how a header row maps
// them to field positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace ferolin::table {

enum class Column : std::uint8_t {
  QueryId,
  CandidateId,
  Rank,
  Score,
  Probability,
  Smiles,
  Inchikey,
  Formula,
  TargetInchikey,
  IsCorrect,
};

// Returns the header name of `column`, e.g. "query_id".
[[nodiscard]] std::string_view column_name(Column column);

// A known column that the table names differently, e.g. is_correct as "Is_Correct".
struct HeaderName {
  Column column = Column::QueryId;
  std::string name;
};

struct KnownField {
  std::size_t field = 0;  // position in the record
  Column column = Column::QueryId;
};

// Which fields of each record to convert, in field order.
struct ColumnPlan {
  // The known columns in field order, up to the second naming of a column
  // named twice; fields of other columns are not converted.
  std::vector<KnownField> known;
  // The first known column named a second time: every data record fails
  // on it once the fields before it are converted.
  std::optional<Column> duplicate;
  // The field that holds each row's group label, where one was asked for.
  std::optional<std::size_t> group_field;
  // The field that holds each row's own confidence, where one was asked for.
  std::optional<std::size_t> confidence_field;
};

// Returns the plan for a header row (names matched exactly, unknown names
// ignored even when repeated), or `MissingColumn` for the first of
// query_id, candidate_id, rank and score that the header lacks. A column
// listed in `header_names` is looked for under its name there instead of its
// own, and must be in the header even for an optional column (reported
// after the required columns); `group_column`, where given, must be in the
// header too (its first field counts), and is reported missing after them;
// `confidence_column` likewise, after the group column.
[[nodiscard]] Result<ColumnPlan> plan_columns(
    std::span<const std::string_view> header, std::span<const HeaderName> header_names = {},
    const std::optional<std::string>& group_column = std::nullopt,
    const std::optional<std::string>& confidence_column = std::nullopt);

}  // namespace ferolin::table
