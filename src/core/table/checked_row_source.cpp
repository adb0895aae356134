#include "core/table/checked_row_source.h"

#include <utility>
#include <vector>

#include "core/table/cell_parsing.h"

namespace ferolin::table {

double CheckedRow::score_value() const { return *parse_float(score_cell); }

std::optional<double> CheckedRow::convert_probability() const {
  return *parse_float(probability_cell);
}

// A field whose cells can fail: rank, score, probability or label.
struct CellCheck {
  std::size_t field = 0;
  Column column = Column::Rank;
};

struct CheckedRowSource::State {
  State(TableRecords table, RowNeeds row_needs) : records(std::move(table)), needs(row_needs) {
    const ColumnPlan& plan = records.plan();
    for (const KnownField& known : plan.known) {
      switch (known.column) {
        case Column::QueryId:
          query_field = known.field;
          break;
        case Column::CandidateId:
          candidate_field = known.field;
          break;
        case Column::Rank:
        case Column::Score:
        case Column::Probability:
        case Column::IsCorrect:
          // In field order, so that the first failure is the leftmost:
          // the text columns between them cannot fail.
          checks.push_back({known.field, known.column});
          break;
        default:
          // The UTF-8 of texts is checked by the tokenizer.
          break;
      }
    }
  }

  TableRecords records;
  RowNeeds needs;
  std::size_t query_field = 0;
  std::size_t candidate_field = 0;
  std::vector<CellCheck> checks;
  CheckedRow row;
};

namespace {

std::optional<CellError> check_cell(const CellCheck& check, std::string_view cell,
                                    const CheckedRowSource::State& s, CheckedRow& row) {
  switch (check.column) {
    case Column::Rank: {
      const auto rank = parse_rank(cell);
      if (!rank) return rank.error();
      row.rank = *rank;
      return std::nullopt;
    }
    case Column::Score:
      row.score_cell = cell;
      return check_float(cell);
    case Column::Probability: {
      row.probability_cell = cell;
      if (cell.empty()) return std::nullopt;
      if (!s.needs.every_probability) return check_float(cell);
      const auto probability = parse_float(cell);
      if (!probability) return probability.error();
      row.converted_probability = *probability;
      return std::nullopt;
    }
    case Column::IsCorrect: {
      if (cell.empty()) {
        row.is_correct.reset();
        return std::nullopt;
      }
      const auto label = parse_label(cell, s.records.labels());
      if (!label) return label.error();
      row.is_correct = *label;
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

std::optional<FerolinError> check_record(CheckedRowSource::State& s) {
  const CsvTokenizer& record = s.records.record();
  CheckedRow& row = s.row;
  row.converted_probability.reset();
  for (const CellCheck& check : s.checks) {
    if (const auto error = check_cell(check, record.field(check.field), s, row)) {
      return cell_failure(record.position(), check.field, *error);
    }
  }
  const ColumnPlan& plan = s.records.plan();
  if (plan.duplicate) return duplicate_column_failure(record.position(), *plan.duplicate);
  row.query_id = record.field(s.query_field);
  if (s.needs.candidate_id) row.candidate_id = record.field(s.candidate_field);
  if (plan.group_field) {
    const std::string_view group = record.field(*plan.group_field);
    row.group = group.empty() ? std::nullopt : std::optional(group);
  }
  return std::nullopt;
}

}  // namespace

Result<CheckedRowSource> CheckedRowSource::over(Result<TableRecords> records, RowNeeds needs) {
  if (!records) return std::unexpected(std::move(records.error()));
  return CheckedRowSource(std::make_unique<State>(std::move(*records), needs));
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

Result<const CheckedRow*> CheckedRowSource::next() {
  const auto ready = state_->records.next();
  if (!ready) return std::unexpected(ready.error());
  if (!*ready) return nullptr;
  if (auto failure = check_record(*state_)) return std::unexpected(std::move(*failure));
  return &state_->row;
}

}  // namespace ferolin::table
