#include "core/table/table_records.h"

#include <string>
#include <utility>
#include <vector>

#include "core/os/file_reader.h"

namespace ferolin::table {

struct TableRecords::State {
  explicit State(char delimiter) : tokenizer(delimiter) {}

  ChunkReader read_chunk;
  std::optional<std::uint64_t> size_hint;
  os::ReadMonitor monitor;
  os::ReadProgress progress;
  std::uint64_t next_check = 0;  // progress.bytes at which the monitor is called next
  CsvTokenizer tokenizer;
  ColumnPlan plan;
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
Result<void> report_progress(TableRecords::State& s, bool at_end) {
  if (!s.monitor.check || (!at_end && s.progress.bytes < s.next_check)) return {};
  s.next_check = s.progress.bytes + s.monitor.interval;
  return s.monitor.check(s.progress);
}

// Returns true when a record is ready in the tokenizer, false at the end;
// `step` is the tokenizer's last answer.
Result<bool> next_record(TableRecords::State& s, Result<CsvTokenizer::Step> step) {
  while (true) {
    if (!step) return std::unexpected(std::move(step.error()));
    if (*step == CsvTokenizer::Step::Record) return true;
    if (*step == CsvTokenizer::Step::End) return false;
    // The records are counted once, by the tokenizer; the monitor, which
    // reading the chunk may call, sees its count.
    s.progress.rows = s.tokenizer.records();
    const auto chunk = s.read_chunk();
    if (!chunk) return std::unexpected(chunk.error());
    s.progress.bytes += chunk->size();
    if (auto reported = report_progress(s, chunk->empty()); !reported) {
      return std::unexpected(std::move(reported.error()));
    }
    s.tokenizer.feed(*chunk);
    step = s.tokenizer.next();
  }
}

// Returns `records` keeping the fields of its plan's columns only.
TableRecords with_plan_fields(TableRecords records) {
  const ColumnPlan& plan = records.plan();
  std::vector<std::size_t> fields;
  for (const KnownField& known : plan.known) fields.push_back(known.field);
  if (plan.group_field) fields.push_back(*plan.group_field);
  if (plan.confidence_field) fields.push_back(*plan.confidence_field);
  records.keep_only_fields(fields);
  return records;
}

FerolinError deserialize_error(const RecordPosition& at, std::string_view detail) {
  return FerolinError::csv("CSV deserialize error: record " + std::to_string(at.record) +
                           " (line: " + std::to_string(at.line) +
                           ", byte: " + std::to_string(at.byte) + "): " + std::string(detail));
}

}  // namespace

Result<TableRecords> TableRecords::open(std::string_view path, TableOptions options) {
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

Result<TableRecords> TableRecords::from_chunks(ChunkReader read_chunk,
                                               std::optional<std::uint64_t> size_hint,
                                               TableOptions options) {
  auto state = std::make_unique<State>(options.delimiter);
  state->monitor = std::move(options.monitor);
  state->read_chunk = std::move(read_chunk);
  state->size_hint = size_hint;
  return start(std::move(state), options);
}

TableRecords TableRecords::resume(ChunkReader read_chunk, const ColumnPlan& plan,
                                  const TableOptions& options,
                                  const CsvTokenizer::ResumePoint& at) {
  auto state = std::make_unique<State>(options.delimiter);
  state->read_chunk = std::move(read_chunk);
  state->tokenizer.resume(at);
  // A part's records are bounded as the whole table's are.
  state->tokenizer.limit_field_bytes(options.max_field_bytes);
  state->plan = plan;
  return with_plan_fields(TableRecords(std::move(state), options));
}

Result<TableRecords> TableRecords::start(std::unique_ptr<State> state,
                                         const TableOptions& options) {
  state->tokenizer.limit_field_bytes(options.max_field_bytes);
  const auto has_header = next_record(*state, state->tokenizer.next());
  if (!has_header) return std::unexpected(has_header.error());
  // An empty file has a header row without columns.
  std::vector<std::string_view> header;
  if (*has_header) {
    for (std::size_t i = 0; i < state->tokenizer.field_count(); ++i) {
      header.push_back(state->tokenizer.field(i));
    }
  }
  auto plan = plan_columns(header, options.header_names, options.group_column,
                           options.confidence_column);
  if (!plan) return std::unexpected(std::move(plan.error()));
  state->plan = std::move(*plan);
  return with_plan_fields(TableRecords(std::move(state), options));
}

TableRecords::TableRecords(std::unique_ptr<State> state, const TableOptions& options)
    : state_(std::move(state)),
      tokenizer_(&state_->tokenizer),
      plan_(&state_->plan),
      labels_(options.labels),
      numbers_(options.numbers) {}
TableRecords::TableRecords(TableRecords&&) noexcept = default;
TableRecords& TableRecords::operator=(TableRecords&&) noexcept = default;
TableRecords::~TableRecords() = default;

Result<bool> TableRecords::next_after(Result<CsvTokenizer::Step> step) {
  return next_record(*state_, std::move(step));
}

void TableRecords::keep_only_fields(std::span<const std::size_t> fields) {
  std::vector<bool> kept;
  for (const std::size_t field : fields) {
    if (field >= kept.size()) kept.resize(field + 1);
    kept[field] = true;
  }
  tokenizer_->keep_only_fields(std::move(kept));
}

std::optional<std::uint64_t> TableRecords::size_hint() const { return state_->size_hint; }

FerolinError cell_failure(const RecordPosition& at, std::size_t field, CellError error,
                          std::string_view cell) {
  FerolinError failure = deserialize_error(
      at, "field " + std::to_string(field) + ": " + std::string(cell_error_text(error)));
  failure.kind = ErrorKind::BadCell;
  failure.cell = CellFailure{at.line, field, std::string(cell), error};
  return failure;
}

FerolinError duplicate_column_failure(const RecordPosition& at, Column column) {
  return deserialize_error(at, "duplicate field `" + std::string(column_name(column)) + "`");
}

}  // namespace ferolin::table
