// RecordPosition: where a record of a CSV file starts, as the reader's
// errors and its callers report it.
#pragma once

#include <cstdint>

namespace ferolin::table {

// Every line feed, carriage return and carriage return + line feed counts as
// one line break, inside quoted fields too.
struct RecordPosition {
  std::uint64_t record = 0;  // the first record (the header) is record 0
  std::uint64_t line = 1;    // 1-based line of the record's first byte
  std::uint64_t byte = 0;    // 0-based offset of the record's first byte (a BOM included)

  friend bool operator==(const RecordPosition&, const RecordPosition&) = default;
};

}  // namespace ferolin::table
