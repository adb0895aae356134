#include "core/table/checked_row_source.h"

#include <string>
#include <utility>

#include "core/table/record_conversion.h"
#include "core/table/cell_parsing.h"
#include "core/table/number_spelling.h"
#include "core/table/id_lookahead.h"

namespace ferolin::table {

double CheckedRow::score_value() const { return *parse_float(score_cell); }

std::optional<double> CheckedRow::convert_probability() const {
  return *parse_float(probability_cell);
}

namespace {

// Returns the field of a known column (the first field when it is not
// known, as after a column named twice, where every record fails).
std::size_t field_of(const ColumnPlan& plan, Column column) {
  for (const KnownField& known : plan.known) {
    if (known.column == column) return known.field;
  }
  return 0;
}

}  // namespace

struct CheckedRowSource::State {
  State(TableRecords table, RowNeeds row_needs)
      : records(std::move(table)),
        needs(row_needs),
        group_field(records.plan().group_field),
        confidence_field(records.plan().confidence_field),
        duplicate(records.plan().duplicate.has_value()),
        lookahead(field_of(records.plan(), Column::QueryId), records.record().separator()) {
    for (const KnownField& known : records.plan().known) {
      switch (known.column) {
        case Column::QueryId:
          query_field = known.field;
          break;
        case Column::CandidateId:
          candidate_field = known.field;
          break;
        case Column::Rank:
          rank_field = known.field;
          break;
        case Column::Score:
          score_field = known.field;
          break;
        case Column::Probability:
          probability_field = known.field;
          break;
        case Column::IsCorrect:
          label_field = known.field;
          break;
        default:
          // The other texts are not handed out; the tokenizer has checked
          // their UTF-8, and no other check can fail on them.
          break;
      }
    }
  }

  TableRecords records;
  RowNeeds needs;
  std::optional<std::size_t> group_field;
  std::optional<std::size_t> confidence_field;
  bool duplicate;
  std::size_t query_field = 0;
  std::size_t candidate_field = 0;
  std::size_t rank_field = 0;
  std::size_t score_field = 0;
  std::optional<std::size_t> probability_field;
  std::optional<std::size_t> label_field;
  CheckedRow row;
  // The score and probability cells translated from a table's own spelling
  // of numbers; the row's cells view them.
  std::string score_text;
  std::string probability_text;
  IdLookahead lookahead;
};

namespace {

// The failure of a record that did not pass: the one that converting its
// cells in field order meets, as every read of a table reports it.
FerolinError record_failure(const TableRecords& records) {
  CandidateRow converted;
  return *convert_record(records, converted);
}

// Translates the score and probability cells of a table that spells numbers
// its own way into the cells that parse_float reads; "nan" for a missing score.
void respell_numbers(CheckedRowSource::State& s) {
  const NumberSpelling& numbers = s.records.numbers();
  CheckedRow& row = s.row;
  row.score_cell = number_cell(row.score_cell, numbers, s.score_text);
  if (row.score_cell.empty() && empty_score_is_missing(numbers)) row.score_cell = "nan";
  row.probability_cell = number_cell(row.probability_cell, numbers, s.probability_text);
}

// Checks and converts the cells in a fixed order; a record that does not
// pass is converted again in field order for the failure to report.
bool check_record(CheckedRowSource::State& s) {
  const CsvTokenizer& record = s.records.record();
  CheckedRow& row = s.row;
  const auto rank = parse_rank(record.field(s.rank_field));
  bool passed = rank.has_value();
  row.rank = rank.value_or(0);
  row.score_cell = record.field(s.score_field);
  if (s.probability_field) row.probability_cell = record.field(*s.probability_field);
  if (!s.records.numbers().is_plain()) respell_numbers(s);
  passed &= !check_float(row.score_cell);
  if (s.probability_field) {
    if (row.probability_cell.empty()) {
      row.converted_probability.reset();
    } else if (s.needs.every_probability) {
      const auto probability = parse_float(row.probability_cell);
      passed &= probability.has_value();
      row.converted_probability = probability.value_or(0.0);
    } else {
      passed &= !check_float(row.probability_cell);
    }
  }
  if (s.label_field) {
    const std::string_view cell = record.field(*s.label_field);
    if (cell.empty() || is_missing_spelling(cell, s.records.numbers())) {
      row.is_correct.reset();
    } else {
      const auto label = parse_label(cell, s.records.labels());
      passed &= label.has_value();
      row.is_correct = label.value_or(false);
    }
  }
  row.query_id = record.field(s.query_field);
  if (s.needs.candidate_id) row.candidate_id = record.field(s.candidate_field);
  if (s.group_field) {
    const std::string_view group = record.field(*s.group_field);
    row.group = group.empty() ? std::nullopt : std::optional(group);
  }
  if (s.confidence_field) {
    const std::string_view confidence = record.field(*s.confidence_field);
    row.confidence = confidence.empty() ? std::nullopt : std::optional(confidence);
  }
  return passed && !s.duplicate;
}

}  // namespace

Result<CheckedRowSource> CheckedRowSource::over(Result<TableRecords> records, RowNeeds needs) {
  if (!records) return std::unexpected(std::move(records.error()));
  return CheckedRowSource(std::make_unique<State>(std::move(*records), needs));
}

CheckedRowSource CheckedRowSource::over_records(TableRecords records, RowNeeds needs) {
  return CheckedRowSource(std::make_unique<State>(std::move(records), needs));
}

Result<CheckedRowSource> CheckedRowSource::open(std::string_view path, TableOptions options,
                                                RowNeeds needs) {
  return over(TableRecords::open(path, std::move(options)), needs);
}

Result<CheckedRowSource> CheckedRowSource::from_chunks(TableRecords::ChunkReader read_chunk,
                                                       std::optional<std::uint64_t> size_hint,
                                                       TableOptions options, RowNeeds needs) {
  return over(TableRecords::from_chunks(std::move(read_chunk), size_hint, std::move(options)),
              needs);
}

CheckedRowSource::CheckedRowSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
CheckedRowSource::CheckedRowSource(CheckedRowSource&&) noexcept = default;
CheckedRowSource& CheckedRowSource::operator=(CheckedRowSource&&) noexcept = default;
CheckedRowSource::~CheckedRowSource() = default;

const TableRecords& CheckedRowSource::records() const { return state_->records; }

Result<const CheckedRow*> CheckedRowSource::next() {
  const auto ready = state_->records.next();
  if (!ready) return std::unexpected(ready.error());
  if (!*ready) return nullptr;
  if (!check_record(*state_)) return std::unexpected(record_failure(state_->records));
  return &state_->row;
}

std::string_view CheckedRowSource::query_id_ahead() {
  const CsvTokenizer& record = state_->records.record();
  return state_->lookahead.next(record.bytes_ahead(), record.records());
}

}  // namespace ferolin::table
