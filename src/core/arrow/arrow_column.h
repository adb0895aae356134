// One column of an Arrow record batch as the per-query pass reads it: its
// kind decided once from the stream's schema (or an error naming the column
// and its Arrow type), then a view of each batch's buffers that hands out
// cells without copying them. Nulls of the validity bitmap are empty cells.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/arrow/arrow_c_abi.h"
#include "core/error.h"
#include "core/table/cell_parsing.h"

namespace ferolin::arrow {

// What the pass reads from a column, which decides the Arrow types it takes.
enum class ColumnUse {
  Text,    // ids and labels of groups: strings (utf8, large_utf8, string views,
           // dictionary-encoded strings) or integers, read as their decimal text
  Rank,    // integers of any width; a negative value or a null is an error
  Number,  // float32 or float64 (or integers); a float32 is read as the double
           // of its shortest decimal text, as a CSV writer writes it
  Label,   // boolean, integers 0 and 1, or strings spelled as in a CSV table
  Confidence,  // an own confidence: numbers, or strings that hold them (such
               // a cell is converted later, as the cell of a CSV table is)
};

// How a column's values are stored.
enum class Storage : std::uint8_t {
  Null,
  Bool,
  Int8,
  UInt8,
  Int16,
  UInt16,
  Int32,
  UInt32,
  Int64,
  UInt64,
  Float32,
  Float64,
  Utf8,
  LargeUtf8,
  Utf8View,
  Dictionary,
};

struct ColumnType {
  Storage storage = Storage::Null;
  Storage indices = Storage::Null;  // Dictionary: the integer type of the indices
  Storage values = Storage::Null;   // Dictionary: the string type of the values
};

// Returns the Arrow type of a field as an error message names it, e.g.
// "large_string", "dictionary<values=string, indices=int32>", "timestamp[us]".
[[nodiscard]] std::string arrow_type_name(const ArrowSchema& schema);

// Returns how the column `name` described by `schema` is read for `use`, or
// an error naming the column and its Arrow type when the pass cannot read it.
[[nodiscard]] Result<ColumnType> column_type(const ArrowSchema& schema, ColumnUse use,
                                             std::string_view name);

// Why a cell cannot be read.
enum class CellProblem {
  Null,       // a null where a value is needed (rank, score)
  Negative,   // a negative rank
  NotALabel,  // an integer label other than 0 and 1, or a misspelled one
};

// The cells of one column of one record batch. Valid while the batch lives;
// the views it hands out stay valid until the next call on the same column.
class ColumnView {
 public:
  // `array` is the column's child of the batch, whose own offset applies on
  // top of `parent_offset` (the batch's).
  ColumnView(const ColumnType& type, const ArrowArray& array, std::int64_t parent_offset);

  [[nodiscard]] bool is_null(std::int64_t row) const;

  // The cell as text: "" for a null. Integers are written in decimal,
  // floats as their shortest decimal text that reads back as the same value.
  [[nodiscard]] std::string_view text(std::int64_t row) const;
  // A rank: an error for a null or a negative value.
  [[nodiscard]] std::expected<std::uint64_t, CellProblem> rank(std::int64_t row) const;
  // A number; absent for a null.
  [[nodiscard]] std::optional<double> number(std::int64_t row) const;
  // A label; absent for a null or an empty string.
  [[nodiscard]] std::expected<std::optional<bool>, CellProblem> label(
      std::int64_t row, table::LabelSpelling spelling) const;

  // The raw value of an integer column, for error messages.
  [[nodiscard]] std::string value_text(std::int64_t row) const;

 private:
  [[nodiscard]] std::int64_t integer(std::int64_t at) const;
  [[nodiscard]] std::uint64_t unsigned_integer(std::int64_t at) const;
  [[nodiscard]] bool is_signed() const;

  Storage storage_ = Storage::Null;
  Storage indices_ = Storage::Null;
  const std::uint8_t* validity_ = nullptr;  // nullptr: no nulls
  const void* values_ = nullptr;            // fixed-width values, offsets or views
  const char* data_ = nullptr;              // utf8: the characters
  const void* const* variadic_ = nullptr;   // string views: the data buffers
  std::int64_t offset_ = 0;                 // of the first row in the buffers
  std::unique_ptr<ColumnView> dictionary_;  // Dictionary: the values
  mutable std::array<char, 32> scratch_{};  // a number's decimal text
};

}  // namespace ferolin::arrow
