// IdLookahead: picks the query id of the record a few lines ahead of the one
// being read out of the bytes the tokenizer holds after it, so that the
// lookup of that id can start (its memory be fetched) while the rows between
// are read. It is a hint only: an id in quotes, a line break inside a quoted
// field, a blank line or the end of the bytes at hand make it miss or name
// another record, which costs time but never changes a result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ferolin::table {

class IdLookahead {
 public:
  // How many lines ahead the ids are taken: enough for the fetches of
  // several lookups to be in flight at once, few enough that what they
  // fetch is still cached when its row comes (2 to 16 measured the same).
  static constexpr std::uint64_t kDistance = 8;

  // `field` is the query id's field in a record, `separator` the fields'
  // separator.
  IdLookahead(std::size_t field, char separator) : field_(field), separator_(separator) {}

  // Returns the id field of the record kDistance lines after record number
  // `record` (CsvTokenizer::records()), given `ahead`, the bytes after that
  // record (CsvTokenizer::bytes_ahead()). Returns an empty view when that record
  // is not in them, or when its id is the one returned last (a query's rows
  // usually stand together: its lookup is under way). Calls may skip
  // records.
  [[nodiscard]] std::string_view next(std::string_view ahead, std::uint64_t record);

 private:
  // Moves the cursor past the next line end before `end`; false when there
  // is none.
  bool skip_line(const char* end);
  [[nodiscard]] std::string_view id_at(const char* end) const;

  std::size_t field_;
  char separator_;
  // The start of the line taken for record number cursor_record_, in the
  // bytes that began at begin_ when it was last asked.
  const char* cursor_ = nullptr;
  std::uint64_t cursor_record_ = 0;
  std::uintptr_t begin_ = 0;
  std::string last_id_;  // a copy: the bytes it was read from may be gone
};

}  // namespace ferolin::table
