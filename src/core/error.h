// FerolinError: the one error value that fallible core operations return,
// with the display text a Python caller sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>

namespace ferolin {

enum class ErrorKind {
  Csv,
  Io,
  Json,
  // A file that could not be written; shown as a Json error, as saving a
  // policy file has always reported it.
  Write,
  MissingColumn,
  // A table cell that could not be converted (`cell` says which); a Csv error to read.
  BadCell,
  // A cell or a record longer than the read's limit (`too_long` says where);
  // a Csv error to read.
  TooLong,
  // A JSON value of the wrong type (`json_type` says which); a Json error to read.
  JsonType,
  UnknownPolicyVersion,
  UnsupportedConfidenceLevel,
  MissingConfidenceLevel,
  ParquetNotCompiled,
  // A request outside what an operation supports (a count of zero, an
  // unsupported level, inputs of unequal length): the detail is the message.
  InvalidArgument,
};

// Why a table cell could not be converted.
enum class CellError {
  EmptyInteger,
  InvalidDigit,
  IntegerTooLarge,
  EmptyFloat,
  InvalidFloat,
  InvalidBool,
};

// A table cell that could not be converted, for callers that word the
// failure in their own terms (the header name, a hint) instead of the text.
struct CellFailure {
  std::uint64_t line = 0;  // 1-based line where the cell's record starts
  std::size_t field = 0;   // 0-based position of the cell in its record
  std::string cell;        // the cell as it stands in the file
  CellError reason = CellError::InvalidFloat;
};

// A cell, or a record that has not ended, longer than a read allows.
struct LengthFailure {
  std::uint64_t record = 0;  // the header is record 0
  std::uint64_t line = 0;    // 1-based line where the record starts
  std::uint64_t byte = 0;    // offset of the record's first byte
  std::size_t field = 0;     // 0-based position of the cell in its record
  std::uint64_t limit = 0;   // the limit the message names, in bytes
  bool whole_record = false;  // the record, not one cell, ran over
};

// A JSON value of the wrong type, for callers that word the failure in their
// own terms (the key, what it takes, what it holds) instead of the text.
struct JsonTypeFailure {
  std::string key;       // the key the value stands under; empty for the document
  std::string expected;  // as the message says it: "f64", "a string", "enum ScoringMethod"
  std::string found;     // the value's JSON kind: "string", "number", "boolean", "null",
                         // "array" or "object"
  std::string value;     // as the message shows it ("\"0.05\"", "-3", "true"); empty for
                         // null, arrays and objects
  std::uint64_t line = 0;    // 1-based, as the message says it
  std::uint64_t column = 0;  // as the message says it
};

struct FerolinError {
  ErrorKind kind = ErrorKind::Csv;
  // Csv, Io, Json, Write and the kinds read as them: the underlying
  // description; MissingColumn: the column; UnknownPolicyVersion: the
  // version; InvalidArgument: the whole message.
  std::string detail;
  double level = 0.0;  // UnsupportedConfidenceLevel
  // The facts of a failure, for callers that word it in their own terms;
  // none is part of the message. BadCell: the cell; TooLong: where;
  // JsonType: the value; Write, and Io where a file is known: the file.
  std::optional<CellFailure> cell;
  std::optional<LengthFailure> too_long;
  std::optional<JsonTypeFailure> json_type;
  std::string path;

  // Returns the whole message: no kind name, no trailing newline.
  [[nodiscard]] std::string message() const;

  [[nodiscard]] static FerolinError csv(std::string description);
  [[nodiscard]] static FerolinError io(std::string description);
  [[nodiscard]] static FerolinError json(std::string description);
  [[nodiscard]] static FerolinError write(std::string path, std::string description);
  [[nodiscard]] static FerolinError missing_column(std::string column);
  [[nodiscard]] static FerolinError unknown_policy_version(std::string version);
  [[nodiscard]] static FerolinError unsupported_confidence_level(double level);
  [[nodiscard]] static FerolinError missing_confidence_level();
  [[nodiscard]] static FerolinError parquet_not_compiled();
  [[nodiscard]] static FerolinError invalid_argument(std::string message);
};

template <typename T>
using Result = std::expected<T, FerolinError>;

// Returns the operating system's text for `errnum` followed by
// " (os error N)", e.g. "No such file or directory (os error 2)".
[[nodiscard]] std::string os_error_text(int errnum);

}  // namespace ferolin
