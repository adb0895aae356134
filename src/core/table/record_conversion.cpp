#include "core/table/record_conversion.h"

#include <limits>
#include <string>

#include "core/table/candidate_columns.h"
#include "core/table/cell_parsing.h"
#include "core/table/number_spelling.h"

namespace ferolin::table {
namespace {

template <typename T, typename Field>
std::optional<CellError> store(const std::expected<T, CellError>& value, Field& field) {
  if (!value) return value.error();
  field = *value;
  return std::nullopt;
}

void store_text(std::string_view cell, std::optional<std::string_view>& field) {
  if (!cell.empty()) field = cell;
}

// Reads a score cell as the table spells numbers; a missing score is NaN.
std::optional<CellError> set_score(std::string_view cell, const NumberSpelling& numbers,
                                   CandidateRow& row) {
  if (numbers.is_plain()) return store(parse_float(cell), row.score);
  std::string buffer;
  const std::string_view plain = number_cell(cell, numbers, buffer);
  if (plain.empty() && empty_score_is_missing(numbers)) {
    row.score = std::numeric_limits<double>::quiet_NaN();
    return std::nullopt;
  }
  return store(parse_float(plain), row.score);
}

std::optional<CellError> set_probability(std::string_view cell, const NumberSpelling& numbers,
                                         CandidateRow& row) {
  std::string buffer;
  if (!numbers.is_plain()) cell = number_cell(cell, numbers, buffer);
  return cell.empty() ? std::nullopt : store(parse_float(cell), row.probability);
}

std::optional<CellError> set_cell(Column column, std::string_view cell,
                                  const TableRecords& records, CandidateRow& row) {
  switch (column) {
    case Column::QueryId:
      row.query_id = cell;
      break;
    case Column::CandidateId:
      row.candidate_id = cell;
      break;
    case Column::Rank:
      return store(parse_rank(cell), row.rank);
    case Column::Score:
      return set_score(cell, records.numbers(), row);
    case Column::Probability:
      return set_probability(cell, records.numbers(), row);
    case Column::IsCorrect:
      return cell.empty() || is_missing_spelling(cell, records.numbers())
                 ? std::nullopt
                 : store(parse_label(cell, records.labels()), row.is_correct);
    case Column::Smiles:
      store_text(cell, row.smiles);
      break;
    case Column::Inchikey:
      store_text(cell, row.inchikey);
      break;
    case Column::Formula:
      store_text(cell, row.formula);
      break;
    case Column::TargetInchikey:
      store_text(cell, row.target_inchikey);
      break;
  }
  return std::nullopt;
}

}  // namespace

// Converts the fields in record order, as the first failure must be the one
// in the leftmost field.
std::optional<FerolinError> convert_record(const TableRecords& records, CandidateRow& row) {
  // The required columns are always in the plan and set below; the
  // optional ones are reset here (cheaper than assigning a whole new row).
  row.probability.reset();
  row.is_correct.reset();
  row.smiles.reset();
  row.inchikey.reset();
  row.formula.reset();
  row.target_inchikey.reset();
  row.group.reset();
  row.confidence.reset();
  const CsvTokenizer& record = records.record();
  const ColumnPlan& plan = records.plan();
  for (const KnownField& known : plan.known) {
    const std::string_view cell = record.field(known.field);
    if (const auto error = set_cell(known.column, cell, records, row)) {
      return cell_failure(record.position(), known.field, *error, cell);
    }
  }
  if (plan.duplicate) return duplicate_column_failure(record.position(), *plan.duplicate);
  if (plan.group_field) store_text(record.field(*plan.group_field), row.group);
  if (plan.confidence_field) store_text(record.field(*plan.confidence_field), row.confidence);
  return std::nullopt;
}

}  // namespace ferolin::table
