// CandidateRowSource: a pull-based source of converted rows over a
// candidates table, so that callers can stream a table of millions of rows
// without holding it. Every row is fully checked whatever the caller reads:
// field count, the UTF-8 of every field, every known cell, and known
// columns named twice.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "core/error.h"
#include "core/table/candidate_row.h"
#include "core/table/csv_tokenizer.h"
#include "core/table/table_options.h"
#include "core/table/table_records.h"

namespace ferolin::table {

class CandidateRowSource {
 public:
  using ChunkReader = TableRecords::ChunkReader;

  // Returns a source over the table at `path` with its header read and its
  // required columns checked. A file name with the extension "parquet" is
  // refused with `ParquetNotCompiled` before the file is touched; a path
  // holding a NUL byte, or a file that cannot be opened or read, gives `Csv`.
  // `options` give the layout of a table that is not the default one, a
  // group column and a monitor of the read.
  [[nodiscard]] static Result<CandidateRowSource> open(std::string_view path,
                                                       TableOptions options = {});

  // Returns a source over the bytes that `read_chunk` hands out, with its
  // header read and its required columns checked. `size_hint` is the
  // expected total number of bytes, where known.
  [[nodiscard]] static Result<CandidateRowSource> from_chunks(
      ChunkReader read_chunk, std::optional<std::uint64_t> size_hint = std::nullopt,
      TableOptions options = {});

  CandidateRowSource(CandidateRowSource&&) noexcept;
  CandidateRowSource& operator=(CandidateRowSource&&) noexcept;
  ~CandidateRowSource();

  // Returns the next converted row, nullptr at the end of the table, or the
  // first failure (again on every later call). The row's views stay valid
  // until the next call.
  [[nodiscard]] Result<const CandidateRow*> next();

  // Returns where the last row returned by next() starts in the file.
  [[nodiscard]] const RecordPosition& position() const;

  // Returns the size of the table in bytes when known (a regular file).
  [[nodiscard]] std::optional<std::uint64_t> size_hint() const;

  // The reading state, defined where it is used.
  struct State;

 private:
  explicit CandidateRowSource(std::unique_ptr<State> state);
  [[nodiscard]] static Result<CandidateRowSource> over(Result<TableRecords> records);

  std::unique_ptr<State> state_;
};

// Converts the known cells of the current record of `records` into `row`.
// Returns the failure of the leftmost cell that cannot be converted, else
// that of a known column named twice, else nothing: the failures of every
// read of a table.
[[nodiscard]] std::optional<FerolinError> convert_record(const TableRecords& records,
                                                         CandidateRow& row);

}  // namespace ferolin::table
