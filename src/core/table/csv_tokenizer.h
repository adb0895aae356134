// CsvTokenizer: splits the bytes of a CSV file into records, fed in chunks of
// any size. The structural scan (structural_scan.h) finds the separators and
// line ends 64 bytes at a time; the fields of a record are views into the
// supplied bytes, copied only when the record spans two chunks or the field
// holds doubled quotes. Every record is checked: its field count, its UTF-8,
// and quotes that never close or are followed by other text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/error.h"
#include "core/table/growable_bytes.h"
#include "core/table/record_position.h"
#include "core/table/structural_scan.h"

namespace ferolin::table {

// Reading rules: fields separated by the separator (a comma by default); a
// field that starts with a double quote runs to the closing quote and may
// hold separators and line breaks, "" standing for one quote; records end at
// LF, CR or CRLF; blank lines are skipped; nothing is trimmed; a quote
// inside an unquoted field is an ordinary character; a UTF-8 byte-order mark
// at the start is skipped. Every record must have as many fields as the
// first, and every field must be valid UTF-8.
//
// Usage: call next(); on NeedInput hand over more bytes with supply() (or
// call finish() at the end of the input) and call next() again.
class CsvTokenizer {
 public:
  enum class Step { Record, NeedInput, End };

  // `separator` separates the fields of a record; `variant` picks the scan
  // kernel (tests and benchmarks choose). A separator that fails
  // is_valid_separator() or a variant this processor does not run makes
  // next() fail.
  explicit CsvTokenizer(char separator = ',', ScanVariant variant = fastest_scan_variant());
  ~CsvTokenizer();
  CsvTokenizer(const CsvTokenizer&) = delete;
  CsvTokenizer& operator=(const CsvTokenizer&) = delete;

  // Limits the text of every field to `bytes` bytes: a longer field fails
  // the read once its record ends or, for a field that runs on, once twice
  // the limit of its bytes are read, so that no field, however long, is
  // held whole. A record fails beyond kRecordFields times the limit.
  // Unlimited by default.
  void limit_field_bytes(std::uint64_t bytes) { max_field_bytes_ = bytes; }

  // Hands over the next bytes of the input. They must stay valid until
  // next() returns NeedInput again; an empty view is ignored.
  void supply(std::string_view bytes);
  // Declares that no more bytes follow.
  void finish();
  // Hands over the next chunk of a reader that returns an empty chunk at
  // the end of its input: its bytes, or the end.
  void feed(std::string_view chunk) {
    if (chunk.empty()) {
      finish();
    } else {
      supply(chunk);
    }
  }

  // Returns Record when a whole, checked record is ready (read it with
  // field_count(), field() and position() until the next call), NeedInput
  // when the supplied bytes are used up, End after the last record, or the
  // first failure (again on every later call).
  [[nodiscard]] Result<Step> next();

  // Returns the number of fields of the current record.
  [[nodiscard]] std::size_t field_count() const { return field_count_; }
  // Returns field `index` of the current record.
  [[nodiscard]] std::string_view field(std::size_t index) const { return fields_[index]; }
  // Returns the position of the current record.
  [[nodiscard]] const RecordPosition& position() const { return position_; }
  // Returns the number of records handed out so far.
  [[nodiscard]] std::uint64_t records() const { return records_; }
  // Returns the bytes at hand after the current record, not yet tokenized:
  // the start of the next records, for a reader that wants to look ahead.
  // Valid as the current record's fields are.
  [[nodiscard]] std::string_view bytes_ahead() const {
    return {record_begin_, static_cast<std::size_t>(buffer_end_ - record_begin_)};
  }
  // Returns the separator of the fields.
  [[nodiscard]] char separator() const { return separator_; }

  // Where a tokenizer takes up an input that another read has begun (a
  // part of a file read on its own): what the records before it have set.
  struct ResumePoint {
    RecordPosition next;    // where the next record starts; `record` counts those before it
    char byte_before = 0;   // the input's byte before next.byte (a CR makes a LF no new line)
    std::size_t fields = 0; // the field count that every record must have
  };
  // Takes up the input at `at` rather than at its start: the bytes supplied
  // next start at at.next.byte, and no byte-order mark is looked for. Must
  // be called before the first supply().
  void resume(const ResumePoint& at);
  // Returns where the record after the one handed out starts (after the
  // header: the first data record's position), as far as the bytes tell.
  [[nodiscard]] RecordPosition next_position() const { return current_position(); }
  // Returns true when, after NeedInput, no record is partly read: the bytes
  // supplied so far end with a whole record or a line end outside quotes.
  [[nodiscard]] bool between_records() const {
    return !stitching_ && fields_in_record_ == 0 && record_begin_ == buffer_end_;
  }

 private:
  // What the walk through the bytes does next: go on, hand a step to the
  // caller, or stop at the failure.
  enum class Flow { Continue, Return, Failed };

  bool resolve_byte_order_mark();
  Flow walk();
  std::string_view quoted_field(const char* begin, const char* end);
  void take_quoted_marks(const char* limit);
  std::string_view unescape(std::string_view content);
  Flow complete_record(std::size_t count, const char* end, const char* next_begin);
  Flow refill(Step& step);
  Flow finish_input(Step& step);
  void scan_next_window();
  [[nodiscard]] bool may_hold_non_ascii(const char* end) const;
  Step need_input();
  void read_chunk_from(std::size_t offset);
  void keep_unfinished_record();
  void start_stitch(std::string_view bytes, std::uint64_t offset, bool scanned);
  void append_piece();
  void leave_stitch();
  void rebase_fields(std::uintptr_t old_begin, std::uintptr_t old_end, const char* new_begin);
  void reserve_fields(std::size_t count);
  void clear_window();
  [[nodiscard]] RecordPosition current_position() const;
  [[nodiscard]] char byte_before(const char* at) const {
    return at != buffer_ ? at[-1] : byte_before_buffer_;
  }
  Flow fail(FerolinError error);
  Flow fail_long_field(std::size_t field);
  [[nodiscard]] std::optional<std::size_t> long_field(std::size_t count) const;

  const char separator_;
  const ScanVariant variant_;
  std::uint64_t max_field_bytes_ = UINT64_MAX;
  // A record holds at most this many fields' worth of the field limit.
  static constexpr std::uint64_t kRecordFields = 16;

  // The input: the bytes of the last supply(), where they start in the file,
  // and (while a record is being stitched) how many of them are in stitch_.
  std::string_view chunk_;
  std::uint64_t chunk_offset_ = 0;
  std::size_t chunk_appended_ = 0;
  char last_chunk_byte_ = 0;
  bool finished_ = false;
  bool bom_pending_ = true;
  std::size_t bom_matched_ = 0;           // bytes of the byte-order mark seen
  std::size_t bom_matched_in_chunk_ = 0;  // ... of which in chunk_

  // The bytes being read: chunk_, or stitch_ while a record that began in an
  // earlier chunk is completed there.
  const char* buffer_ = nullptr;
  const char* buffer_end_ = nullptr;
  std::uint64_t buffer_offset_ = 0;  // file offset of buffer_[0]
  char byte_before_buffer_ = 0;
  const char* scanned_ = nullptr;  // the bytes before it are scanned
  bool stitching_ = false;
  GrowableBytes stitch_;

  // Bytes scanned at a time: few enough that the offsets of a window are
  // still in the processor's caches when the walker reads them.
  static constexpr std::size_t kWindow = 16 * 1024;

  // The scan of the current window: offsets from window_, and a bit for
  // each of its 64-byte blocks that holds a byte above 0x7F.
  QuoteState quote_state_ = QuoteState::FieldStart;
  std::unique_ptr<std::uint32_t[]> field_ends_;
  std::unique_ptr<std::uint32_t[]> quoted_marks_;
  const std::uint32_t* next_end_ = nullptr;
  const std::uint32_t* ends_end_ = nullptr;
  const std::uint32_t* next_mark_ = nullptr;
  const std::uint32_t* marks_end_ = nullptr;
  const char* window_ = nullptr;
  const char* bad_quote_ = nullptr;
  bool window_non_ascii_ = false;
  std::array<std::uint64_t, block_words(kWindow)> non_ascii_blocks_{};

  // The record being walked.
  const char* record_begin_ = nullptr;
  const char* field_begin_ = nullptr;
  std::size_t fields_in_record_ = 0;
  bool unescape_field_ = false;  // the quoted field being walked holds a doubled quote
  bool record_non_ascii_ = false;
  std::uint64_t line_ = 1;
  std::uint64_t record_line_ = 1;
  std::unique_ptr<std::string_view[]> fields_;
  std::size_t field_capacity_ = 0;
  GrowableBytes unescaped_;  // fields without their doubled quotes

  // The record handed out.
  std::size_t field_count_ = 0;
  RecordPosition position_;
  std::uint64_t records_ = 0;
  std::optional<std::size_t> expected_fields_;
  bool record_out_ = false;
  std::optional<FerolinError> failure_;
};

}  // namespace ferolin::table
