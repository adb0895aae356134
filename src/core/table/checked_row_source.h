// CheckedRowSource: the rows of a candidates table with every cell checked
// exactly as convert_record checks it (the same failures, in the same
// order), but converted only as far as the caller needs: the rank and the
// label at once, the score and the probability on demand, the texts as
// views of the cells. Most rows of a table never have their score or
// probability read, and checking a number is cheaper than converting it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/error.h"
#include "core/table/table_options.h"
#include "core/table/table_records.h"

namespace ferolin::table {

// What a source converts beyond the rank and the label.
struct RowNeeds {
  // Hand out each row's candidate id.
  bool candidate_id = false;
  // Convert every probability while checking it, for callers that read
  // them all (an entropy sum), rather than checking first and converting
  // on demand.
  bool every_probability = false;
};

// One checked row. Its views and cells are valid until the source reads the
// next row.
struct CheckedRow {
  std::string_view query_id;
  std::string_view candidate_id;  // empty unless RowNeeds::candidate_id
  std::uint64_t rank = 0;
  std::optional<bool> is_correct;
  // The cell of the group column, where one was asked for and is not empty.
  std::optional<std::string_view> group;
  // The cell of the own-confidence column, likewise.
  std::optional<std::string_view> confidence;
  // The score and probability cells, checked. An empty probability cell
  // (or none in the table) is an absent probability.
  std::string_view score_cell;
  std::string_view probability_cell;
  std::optional<double> converted_probability;  // with RowNeeds::every_probability

  // Returns the score, converted from its checked cell.
  [[nodiscard]] double score_value() const;
  // Returns the probability, converted from its checked cell; absent for
  // an empty cell.
  [[nodiscard]] std::optional<double> probability_value() const {
    if (probability_cell.empty() || converted_probability) return converted_probability;
    return convert_probability();
  }

 private:
  [[nodiscard]] std::optional<double> convert_probability() const;
};

class CheckedRowSource {
 public:
  // Returns a source over the table at `path`, or over the bytes that
  // `read_chunk` hands out, as TableRecords::open and from_chunks.
  [[nodiscard]] static Result<CheckedRowSource> open(std::string_view path, TableOptions options,
                                                     RowNeeds needs);
  [[nodiscard]] static Result<CheckedRowSource> from_chunks(TableRecords::ChunkReader read_chunk,
                                                            std::optional<std::uint64_t> size_hint,
                                                            TableOptions options, RowNeeds needs);

  // Returns a source over `records`, whose header has been read.
  [[nodiscard]] static CheckedRowSource over_records(TableRecords records, RowNeeds needs);

  CheckedRowSource(CheckedRowSource&&) noexcept;
  CheckedRowSource& operator=(CheckedRowSource&&) noexcept;
  ~CheckedRowSource();

  // Returns the next row, nullptr at the end of the table, or the first
  // failure; after a failure the source must not be read again.
  [[nodiscard]] Result<const CheckedRow*> next();

  // The records being read.
  [[nodiscard]] const TableRecords& records() const;

  // Returns the query id cell of a record a few lines after the current
  // row, for a lookup to be started early (IdLookahead); a hint that may be
  // empty or name another record.
  [[nodiscard]] std::string_view query_id_ahead();

  // The reading state, defined where it is used.
  struct State;

 private:
  explicit CheckedRowSource(std::unique_ptr<State> state);
  [[nodiscard]] static Result<CheckedRowSource> over(Result<TableRecords> records, RowNeeds needs);

  std::unique_ptr<State> state_;
};

}  // namespace ferolin::table
