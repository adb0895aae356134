#include "core/table/csv_record_errors.h"

#include <string>


namespace ferolin::table {

FerolinError field_count_error(const RecordPosition& at, std::size_t found, std::size_t expected) {
  return FerolinError::csv(
      "CSV error: record " + std::to_string(at.record) + " (line: " + std::to_string(at.line) +
      ", byte: " + std::to_string(at.byte) + "): found record with " + std::to_string(found) +
      " fields, but the previous record has " + std::to_string(expected) + " fields");
}

FerolinError parse_error(const RecordPosition& at, std::size_t field, std::string_view reason) {
  return FerolinError::csv("CSV parse error: record " + std::to_string(at.record) + " (line " +
                           std::to_string(at.line) + ", field: " + std::to_string(field) +
                           ", byte: " + std::to_string(at.byte) + "): " + std::string(reason));
}

FerolinError too_long_error(const RecordPosition& at, std::size_t field, std::uint64_t limit,
                            bool whole_record) {
  FerolinError error = parse_error(at, field,
                                   std::string(whole_record ? "record" : "field") +
                                       " longer than the limit of " + std::to_string(limit) +
                                       " bytes");
  error.kind = ErrorKind::TooLong;
  error.too_long = LengthFailure{at.record, at.line, at.byte, field, limit, whole_record};
  return error;
}

FerolinError utf8_error(const RecordPosition& at, std::size_t field, std::size_t valid_up_to) {
  return parse_error(at, field,
                     "invalid utf-8: invalid UTF-8 in field " + std::to_string(field) +
                         " near byte index " + std::to_string(valid_up_to));
}

}  // namespace ferolin::table
