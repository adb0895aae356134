// CandidateRowSource: the plain reading of a candidates table, row by row,
// every known cell converted (convert_record) whatever the caller reads.
// The tests, the fuzz targets and the benchmarks check the core's
// CheckedRowSource and query passes against it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/error.h"
#include "core/table/candidate_row.h"
#include "core/table/record_position.h"
#include "core/table/table_options.h"
#include "core/table/table_records.h"

namespace ferolin::reference {

using table::CandidateRow;
using table::TableOptions;

class CandidateRowSource {
 public:
  using ChunkReader = table::TableRecords::ChunkReader;

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
  [[nodiscard]] const table::RecordPosition& position() const;

  // Returns the size of the table in bytes when known (a regular file).
  [[nodiscard]] std::optional<std::uint64_t> size_hint() const;

  // The reading state, defined where it is used.
  struct State;

 private:
  explicit CandidateRowSource(std::unique_ptr<State> state);
  [[nodiscard]] static Result<CandidateRowSource> over(Result<table::TableRecords> records);

  std::unique_ptr<State> state_;
};

}  // namespace ferolin::reference
