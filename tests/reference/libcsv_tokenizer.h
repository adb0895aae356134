// LibcsvTokenizer: the reference against which the tests, the fuzz targets
// and the benchmarks check ferolin's own CsvTokenizer. It splits the bytes of
// a CSV file into records, fed in chunks of any size, by libcsv, and adds
// what libcsv lacks: the UTF-8 byte-order mark, record positions, the
// field-count check, UTF-8 validation and strict errors for quotes that
// never close or are followed by other text. Slow (libcsv takes a byte at a
// time and copies every field), but simple and independent of ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/error.h"
#include "core/table/record_position.h"

struct csv_parser;

namespace ferolin::reference {

using table::RecordPosition;

// Reading rules: fields separated by `separator`; a field that starts with a
// double quote runs to the closing quote and may hold separators and line
// breaks, "" standing for one quote; records end at LF, CR or CRLF; blank lines are skipped;
// nothing is trimmed; a quote inside an unquoted field is an ordinary
// character. Every record must have as many fields as the first.
//
// Usage: call next(); on NeedInput hand over more bytes with supply() (or
// call finish() at the end of the input) and call next() again.
class LibcsvTokenizer {
 public:
  enum class Step { Record, NeedInput, End };

  // `separator` separates the fields of a record.
  explicit LibcsvTokenizer(char separator = ',');
  ~LibcsvTokenizer();
  LibcsvTokenizer(const LibcsvTokenizer&) = delete;
  LibcsvTokenizer& operator=(const LibcsvTokenizer&) = delete;

  // Hands over the next bytes of the input. They must stay valid until
  // next() returns NeedInput again; an empty view is ignored.
  void supply(std::string_view bytes);
  // Declares that no more bytes follow.
  void finish();

  // Returns Record when a whole, checked record is ready (read it with
  // field_count(), field() and position() until the next call), NeedInput
  // when the supplied bytes are used up, End after the last record, or the
  // first failure (again on every later call).
  [[nodiscard]] Result<Step> next();

  // Returns the number of fields of the current record.
  [[nodiscard]] std::size_t field_count() const { return field_count_; }
  // Returns field `index` of the current record.
  [[nodiscard]] std::string_view field(std::size_t index) const {
    return {record_bytes_.get() + field_bounds_[index],
            field_bounds_[index + 1] - field_bounds_[index]};
  }
  // Returns the position of the current record.
  [[nodiscard]] const RecordPosition& position() const { return position_; }

 private:
  static void on_field(void* bytes, std::size_t size, void* self);
  static void on_record(int terminator, void* self);

  void skip_byte_order_mark();
  void feed_byte_order_mark_prefix();
  void feed_next_piece();
  void feed(const char* bytes, std::size_t size, std::uint64_t offset, bool has_spaces);
  void parse(const char* bytes, std::size_t size);
  void finish_parser();
  Result<Step> complete_record();
  [[nodiscard]] std::optional<FerolinError> check_record() const;
  [[nodiscard]] FerolinError parse_error(std::size_t field, std::string_view reason) const;
  void fail(FerolinError error);
  bool make_room(std::size_t size) noexcept;

  std::unique_ptr<csv_parser> parser_;
  bool space_function_installed_ = false;

  std::string_view input_;
  std::size_t input_pos_ = 0;
  std::uint64_t input_offset_ = 0;  // file offset of input_[0]
  // Indexes in input_ of the next LF, CR, space and tab at or after
  // input_pos_ (input_.size() when there is none), found with memchr.
  std::size_t next_lf_ = 0;
  std::size_t next_cr_ = 0;
  std::size_t next_space_ = 0;
  std::size_t next_tab_ = 0;
  bool input_is_ascii_ = true;
  bool finished_ = false;
  bool parser_finished_ = false;
  std::size_t bom_matched_ = 0;
  bool bom_pending_ = true;

  std::uint64_t line_ = 1;
  bool last_was_cr_ = false;
  std::uint64_t records_ = 0;
  bool in_record_ = false;
  bool record_ready_ = false;
  bool out_of_memory_ = false;
  // Set when the current record holds bytes of a chunk that is not all
  // ASCII; only such records need a field-by-field UTF-8 check.
  bool record_may_be_non_ascii_ = false;
  std::optional<std::size_t> expected_fields_;

  // The current record: its fields one after another in record_bytes_,
  // field i spanning [field_bounds_[i], field_bounds_[i + 1]).
  RecordPosition position_;
  std::unique_ptr<char[]> record_bytes_;
  std::size_t record_size_ = 0;
  std::size_t record_capacity_ = 0;
  std::unique_ptr<std::size_t[]> field_bounds_;
  std::size_t field_count_ = 0;
  std::size_t field_capacity_ = 0;  // fields that field_bounds_ has room for
  std::optional<FerolinError> failure_;
};

}  // namespace ferolin::reference
