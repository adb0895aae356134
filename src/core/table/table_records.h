// TableRecords: the data records of a candidates table, read in chunks from
// a file or a stream and tokenized, with the column plan of its header and
// the monitor of the read. The row sources convert and check the cells of
// its records; this is what they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "core/error.h"
#include "core/move_only_function.h"
#include "core/table/candidate_columns.h"
#include "core/table/cell_parsing.h"
#include "core/table/csv_tokenizer.h"
#include "core/table/table_options.h"

namespace ferolin::table {

class TableRecords {
 public:
  // Hands out the bytes of a table in order: the next chunk (valid until
  // the next call), an empty view at the end, or a failure.
  using ChunkReader = MoveOnlyFunction<Result<std::string_view>()>;

  // Returns the records of the table at `path` with its header read and its
  // required columns checked. A file name with the extension "parquet" is
  // refused with `ParquetNotCompiled` before the file is touched; a path
  // holding a NUL byte, or a file that cannot be opened or read, gives `Csv`.
  [[nodiscard]] static Result<TableRecords> open(std::string_view path, TableOptions options = {});

  // Returns the records of the bytes that `read_chunk` hands out, with the
  // header read and the required columns checked. `size_hint` is the
  // expected total number of bytes, where known.
  [[nodiscard]] static Result<TableRecords> from_chunks(
      ChunkReader read_chunk, std::optional<std::uint64_t> size_hint = std::nullopt,
      TableOptions options = {});

  // Returns the records of a part of a table whose header was read
  // elsewhere (planned as `plan`): the bytes that `read_chunk` hands out
  // start at `at`. The options' monitor is not called.
  [[nodiscard]] static TableRecords resume(ChunkReader read_chunk, const ColumnPlan& plan,
                                           const TableOptions& options,
                                           const CsvTokenizer::ResumePoint& at);

  TableRecords(TableRecords&&) noexcept;
  TableRecords& operator=(TableRecords&&) noexcept;
  ~TableRecords();

  // Returns true when the next record is ready in record(), false after the
  // last one, or the failure of the file, the tokenizer or the monitor.
  [[nodiscard]] Result<bool> next() {
    // Most calls find a record in the bytes at hand.
    Result<CsvTokenizer::Step> step = tokenizer_->next();
    if (step && *step == CsvTokenizer::Step::Record) return true;
    return next_after(std::move(step));
  }

  // Keeps only the fields at the positions `fields` of the records from the
  // next on: the others are skipped, their text neither limited nor held
  // (CsvTokenizer::keep_only_fields). The fields of the plan's columns are
  // kept until this is called.
  void keep_only_fields(std::span<const std::size_t> fields);

  // The current record's fields; valid until the next call of next().
  [[nodiscard]] const CsvTokenizer& record() const { return *tokenizer_; }
  [[nodiscard]] const RecordPosition& position() const { return record().position(); }

  [[nodiscard]] const ColumnPlan& plan() const { return *plan_; }
  [[nodiscard]] LabelSpelling labels() const { return labels_; }
  [[nodiscard]] const NumberSpelling& numbers() const { return numbers_; }
  // Returns the size of the table in bytes when known (a regular file).
  [[nodiscard]] std::optional<std::uint64_t> size_hint() const;

  // The reading state, defined where it is used.
  struct State;

 private:
  TableRecords(std::unique_ptr<State> state, const TableOptions& options);
  // Reads the header of the table that `state` reads and plans its columns;
  // `options` gives what `state` does not hold yet.
  [[nodiscard]] static Result<TableRecords> start(std::unique_ptr<State> state,
                                                  const TableOptions& options);
  // next() past a step that is not a record: more bytes, the end or a failure.
  [[nodiscard]] Result<bool> next_after(Result<CsvTokenizer::Step> step);

  std::unique_ptr<State> state_;
  // Parts of the state that every record reads.
  CsvTokenizer* tokenizer_;
  const ColumnPlan* plan_;
  LabelSpelling labels_;
  NumberSpelling numbers_;
};

// Returns the failure of a cell that cannot be converted: "CSV deserialize
// error: record {} (line: {}, byte: {}): field {}: {reason}", with the cell's
// place and text in `CellFailure` for callers that word it themselves.
[[nodiscard]] FerolinError cell_failure(const RecordPosition& at, std::size_t field,
                                        CellError error, std::string_view cell = {});

// Returns the failure of a record of a table that names `column` twice.
[[nodiscard]] FerolinError duplicate_column_failure(const RecordPosition& at, Column column);

}  // namespace ferolin::table
