// The errors of a CSV record that cannot be read, with the record's position
// in the texts that callers show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/error.h"
#include "core/table/record_position.h"

namespace ferolin::table {

// Returns the error for a record whose field count differs from the first
// record's.
[[nodiscard]] FerolinError field_count_error(const RecordPosition& at, std::size_t found,
                                             std::size_t expected);

// Returns the error for a record that cannot be split into fields, found in
// field `field`.
[[nodiscard]] FerolinError parse_error(const RecordPosition& at, std::size_t field,
                                       std::string_view reason);

// Returns the error for field `field` (or, with `whole_record`, the record)
// running over `limit` bytes: a parse error of kind TooLong.
[[nodiscard]] FerolinError too_long_error(const RecordPosition& at, std::size_t field,
                                          std::uint64_t limit, bool whole_record);

// Returns the error for field `field` of a record, whose text is valid
// UTF-8 up to byte `valid_up_to` and not beyond.
[[nodiscard]] FerolinError utf8_error(const RecordPosition& at, std::size_t field,
                                      std::size_t valid_up_to);

}  // namespace ferolin::table
