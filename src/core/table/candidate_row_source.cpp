#include "core/table/candidate_row_source.h"

#include <string>
#include <utility>
#include <vector>

#include "core/os/file_reader.h"
#include "core/table/candidate_columns.h"
#include "core/table/cell_parsing.h"

namespace ferolin::table {

struct CandidateRowSource::State {
  explicit State(char delimiter) : tokenizer(delimiter) {}

  ChunkReader read_chunk;
  std::optional<std::uint64_t> size_hint;
  LabelSpelling labels = LabelSpelling::Exact;
  os::ReadMonitor monitor;
  os::ReadProgress progress;
  std::uint64_t next_check = 0;  // progress.bytes at which the monitor is called next
  CsvTokenizer tokenizer;
  ColumnPlan plan;
  CandidateRow row;
  bool ended = false;
  std::optional<FerolinError> failure;
};

namespace {

// The extension is the text after the last dot of the last path component,
// unless that dot is the component's first character.
bool has_parquet_extension(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::string_view name = path.substr(path.rfind('/') + 1);
  const std::size_t dot = name.rfind('.');
  return dot != std::string_view::npos && dot != 0 && name.substr(dot + 1) == "parquet";
}

// Tells the monitor how far the read has come, every `interval` bytes and
// at the end of the file.
Result<void> report_progress(CandidateRowSource::State& s, bool at_end) {
  if (!s.monitor.check || (!at_end && s.progress.bytes < s.next_check)) return {};
  s.next_check = s.progress.bytes + s.monitor.interval;
  return s.monitor.check(s.progress);
}

// Returns true when a record is ready in the tokenizer, false at the end.
Result<bool> next_record(CandidateRowSource::State& s) {
  while (true) {
    const auto step = s.tokenizer.next();
    if (!step) return std::unexpected(step.error());
    if (*step == CsvTokenizer::Step::Record) {
      ++s.progress.rows;
      return true;
    }
    if (*step == CsvTokenizer::Step::End) return false;
    const auto chunk = s.read_chunk();
    if (!chunk) return std::unexpected(chunk.error());
    s.progress.bytes += chunk->size();
    if (auto reported = report_progress(s, chunk->empty()); !reported) {
      return std::unexpected(std::move(reported.error()));
    }
    if (chunk->empty()) {
      s.tokenizer.finish();
    } else {
      s.tokenizer.supply(*chunk);
    }
  }
}

template <typename T, typename Field>
std::optional<CellError> store(const std::expected<T, CellError>& value, Field& field) {
  if (!value) return value.error();
  field = *value;
  return std::nullopt;
}

void store_text(std::string_view cell, std::optional<std::string_view>& field) {
  if (!cell.empty()) field = cell;
}

std::optional<CellError> set_cell(Column column, std::string_view cell, LabelSpelling labels,
                                  CandidateRow& row) {
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
      return store(parse_float(cell), row.score);
    case Column::Probability:
      return cell.empty() ? std::nullopt : store(parse_float(cell), row.probability);
    case Column::IsCorrect:
      return cell.empty() ? std::nullopt : store(parse_label(cell, labels), row.is_correct);
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

FerolinError deserialize_error(const RecordPosition& at, std::string_view detail) {
  return FerolinError::csv("CSV deserialize error: record " + std::to_string(at.record) +
                           " (line: " + std::to_string(at.line) +
                           ", byte: " + std::to_string(at.byte) + "): " + std::string(detail));
}

// Converts the fields in record order, as the first failure must be the one
// in the leftmost field.
std::optional<FerolinError> convert_record(const CsvTokenizer& tokenizer, const ColumnPlan& plan,
                                           LabelSpelling labels, CandidateRow& row) {
  // The required columns are always in the plan and set below; the
  // optional ones are reset here (cheaper than assigning a whole new row).
  row.probability.reset();
  row.is_correct.reset();
  row.smiles.reset();
  row.inchikey.reset();
  row.formula.reset();
  row.target_inchikey.reset();
  row.group.reset();
  for (const KnownField& known : plan.known) {
    if (const auto error = set_cell(known.column, tokenizer.field(known.field), labels, row)) {
      return deserialize_error(tokenizer.position(), "field " + std::to_string(known.field) + ": " +
                                                         std::string(cell_error_text(*error)));
    }
  }
  if (plan.duplicate) {
    return deserialize_error(tokenizer.position(),
                             "duplicate field `" + std::string(column_name(*plan.duplicate)) + "`");
  }
  if (plan.group_field) store_text(tokenizer.field(*plan.group_field), row.group);
  return std::nullopt;
}

}  // namespace

Result<CandidateRowSource> CandidateRowSource::open(std::string_view path, TableOptions options) {
  if (has_parquet_extension(path)) return std::unexpected(FerolinError::parquet_not_compiled());
  auto state = std::make_unique<State>(options.delimiter);
  state->monitor = std::move(options.monitor);
  // A signal that interrupts opening or reading the file (a FIFO waiting
  // for its writer) asks the monitor whether to go on.
  auto file = os::FileReader::open(path, os::interrupt_check(state->monitor, state->progress));
  if (!file) return std::unexpected(std::move(file.error()));
  state->size_hint = file->size_hint();
  state->read_chunk = [reader = std::move(*file)]() mutable { return reader.read(); };
  return start(std::move(state), options);
}

Result<CandidateRowSource> CandidateRowSource::from_chunks(ChunkReader read_chunk,
                                                           std::optional<std::uint64_t> size_hint,
                                                           TableOptions options) {
  auto state = std::make_unique<State>(options.delimiter);
  state->monitor = std::move(options.monitor);
  state->read_chunk = std::move(read_chunk);
  state->size_hint = size_hint;
  return start(std::move(state), options);
}

Result<CandidateRowSource> CandidateRowSource::start(std::unique_ptr<State> state,
                                                     const TableOptions& options) {
  state->labels = options.labels;
  const auto has_header = next_record(*state);
  if (!has_header) return std::unexpected(has_header.error());
  // An empty file has a header row without columns.
  std::vector<std::string_view> header;
  if (*has_header) {
    for (std::size_t i = 0; i < state->tokenizer.field_count(); ++i) {
      header.push_back(state->tokenizer.field(i));
    }
  }
  auto plan = plan_columns(header, options.header_names, options.group_column);
  if (!plan) return std::unexpected(std::move(plan.error()));
  state->plan = std::move(*plan);
  return CandidateRowSource(std::move(state));
}

CandidateRowSource::CandidateRowSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
CandidateRowSource::CandidateRowSource(CandidateRowSource&&) noexcept = default;
CandidateRowSource& CandidateRowSource::operator=(CandidateRowSource&&) noexcept = default;
CandidateRowSource::~CandidateRowSource() = default;

Result<const CandidateRow*> CandidateRowSource::next() {
  State& s = *state_;
  if (s.failure) return std::unexpected(*s.failure);
  if (s.ended) return nullptr;
  const auto ready = next_record(s);
  if (!ready) {
    s.failure = ready.error();
  } else if (!*ready) {
    s.ended = true;
    return nullptr;
  } else {
    s.failure = convert_record(s.tokenizer, s.plan, s.labels, s.row);
  }
  if (s.failure) return std::unexpected(*s.failure);
  return &s.row;
}

const RecordPosition& CandidateRowSource::position() const { return state_->tokenizer.position(); }

std::optional<std::uint64_t> CandidateRowSource::size_hint() const { return state_->size_hint; }

}  // namespace ferolin::table
