#include "core/table/candidate_row_source.h"

#include <limits>
#include <string>
#include <utility>

#include "core/table/candidate_columns.h"
#include "core/table/cell_parsing.h"
#include "core/table/number_spelling.h"
#include "core/table/table_records.h"

namespace ferolin::table {

struct CandidateRowSource::State {
  explicit State(TableRecords table) : records(std::move(table)) {}

  TableRecords records;
  CandidateRow row;
  bool ended = false;
  std::optional<FerolinError> failure;
};

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

Result<CandidateRowSource> CandidateRowSource::over(Result<TableRecords> records) {
  if (!records) return std::unexpected(std::move(records.error()));
  return CandidateRowSource(std::make_unique<State>(std::move(*records)));
}

Result<CandidateRowSource> CandidateRowSource::open(std::string_view path, TableOptions options) {
  return over(TableRecords::open(path, std::move(options)));
}

Result<CandidateRowSource> CandidateRowSource::from_chunks(ChunkReader read_chunk,
                                                           std::optional<std::uint64_t> size_hint,
                                                           TableOptions options) {
  return over(TableRecords::from_chunks(std::move(read_chunk), size_hint, std::move(options)));
}

CandidateRowSource::CandidateRowSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
CandidateRowSource::CandidateRowSource(CandidateRowSource&&) noexcept = default;
CandidateRowSource& CandidateRowSource::operator=(CandidateRowSource&&) noexcept = default;
CandidateRowSource::~CandidateRowSource() = default;

Result<const CandidateRow*> CandidateRowSource::next() {
  State& s = *state_;
  if (s.failure) return std::unexpected(*s.failure);
  if (s.ended) return nullptr;
  const auto ready = s.records.next();
  if (!ready) {
    s.failure = ready.error();
  } else if (!*ready) {
    s.ended = true;
    return nullptr;
  } else {
    s.failure = convert_record(s.records, s.row);
  }
  if (s.failure) return std::unexpected(*s.failure);
  return &s.row;
}

const RecordPosition& CandidateRowSource::position() const { return state_->records.position(); }

std::optional<std::uint64_t> CandidateRowSource::size_hint() const {
  return state_->records.size_hint();
}

}  // namespace ferolin::table
