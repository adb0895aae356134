// CsvTokenizer: splits the bytes of a CSV file into records, fed in chunks of
// any size. The structural scan (structural_scan.h) finds the separators and
// line ends 64 bytes at a time; the walker turns them into fields, views
// into the supplied bytes, copied only when the record spans two chunks (the
// RecordStitcher carries it) or the field holds doubled quotes. Fields the
// caller does not read are skipped without being held. Every record is
// checked: its field count, its UTF-8, and quotes that never close or are
// followed by other text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/table/growable_bytes.h"
#include "core/table/record_position.h"
#include "core/table/record_stitcher.h"
#include "core/table/skipped_fields.h"
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

  // Limits the text of every kept field to `bytes` bytes: a longer field
  // fails the read once its record ends or, for a field that runs on, once
  // twice the limit of its bytes are read, so that no field, however long,
  // is held whole. A record fails beyond kRecordFields times the limit of
  // kept text. Unlimited by default.
  void limit_field_bytes(std::uint64_t bytes) { max_field_bytes_ = bytes; }
  // From the next record on, keeps only the fields whose position is true
  // in `kept`. The others (positions past its end too) are still walked and
  // checked, but their text has no limit and is not held, however many
  // chunks it spans: field() of them may be empty. Every field is kept
  // until this is called.
  void keep_only_fields(std::vector<bool> kept) { skipped_.keep_only(std::move(kept)); }

  // Hands over the next bytes of the input. They must stay valid until
  // next() returns NeedInput again; an empty view is ignored.
  void supply(std::string_view bytes);
  // Declares that no more bytes follow.
  void finish() { stitcher_.finish(); }
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
  [[nodiscard]] std::string_view field(std::size_t index) const {
    return fields_[index].text(record_out_, unescaped_.data());
  }
  // Returns the position of the current record.
  [[nodiscard]] const RecordPosition& position() const { return position_; }
  // Returns the number of records handed out so far.
  [[nodiscard]] std::uint64_t records() const { return records_; }
  // Returns the bytes at hand after the current record, not yet tokenized:
  // the start of the next records, for a reader that wants to look ahead.
  // Valid as the current record's fields are.
  [[nodiscard]] std::string_view bytes_ahead() const {
    return {at_.record, static_cast<std::size_t>(stitcher_.end() - at_.record)};
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
    return !stitcher_.carrying() && fields_in_record_ == 0 && at_.record == stitcher_.end();
  }

 private:
  // What the walk through the bytes does next: go on, hand a step to the
  // caller, or stop at the failure.
  enum class Flow { Continue, Return, Failed };

  // A field of the record being walked, as offsets from the record's first
  // byte or, for a field unescaped into unescaped_, from its start: the
  // bytes may move or grow while the record is walked and the fields hold.
  struct FieldSpan {
    static constexpr std::size_t kUnescaped = std::size_t{1} << 63;
    std::size_t begin = 0;  // with kUnescaped set: an offset in unescaped_
    std::size_t size = 0;

    [[nodiscard]] std::string_view text(const char* record, const char* unescaped) const {
      const char* base = (begin & kUnescaped) != 0 ? unescaped : record;
      return {base + (begin & ~kUnescaped), size};
    }
  };

  Flow walk();
  FieldSpan quoted_field(const char* begin, const char* end, const char* record);
  void take_quoted_marks(const char* limit);
  FieldSpan unescape(std::string_view content);
  Flow complete_record(std::size_t count, const char* end, const char* next_begin);
  Flow refill(Step& step);
  [[nodiscard]] std::uint64_t kept_bytes_scanned();
  void drop_skipped_text();
  Flow finish_input(Step& step);
  void scan_next_window();
  [[nodiscard]] bool may_hold_non_ascii(const char* end) const;
  Step need_input();
  void restart_walk();
  void reserve_fields(std::size_t count);
  void clear_window();
  [[nodiscard]] RecordPosition current_position() const;
  [[nodiscard]] std::optional<FerolinError> utf8_failure(std::size_t count) const;
  Flow fail(FerolinError error);
  Flow fail_long_field(std::size_t field);
  [[nodiscard]] std::optional<std::size_t> long_field(std::size_t count) const;

  const char separator_;
  const ScanVariant variant_;
  std::uint64_t max_field_bytes_ = UINT64_MAX;
  // A record holds at most this many fields' worth of the field limit.
  static constexpr std::uint64_t kRecordFields = 16;

  // The bytes being walked, and where the walk stands in them.
  RecordStitcher stitcher_;
  RecordStitcher::Cursor at_;
  SkippedFields skipped_;

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
  std::size_t fields_in_record_ = 0;
  bool unescape_field_ = false;  // the quoted field being walked holds a doubled quote
  bool record_non_ascii_ = false;
  std::uint64_t line_ = 1;
  std::uint64_t record_line_ = 1;
  std::unique_ptr<FieldSpan[]> fields_;
  std::size_t field_capacity_ = 0;
  GrowableBytes unescaped_;  // fields without their doubled quotes
  // Text of the kept fields among the first `accounted_fields_` of the
  // record: what the record's limit counts where fields are skipped.
  std::size_t accounted_fields_ = 0;
  std::uint64_t kept_text_ = 0;

  // The record handed out.
  const char* record_out_ = nullptr;
  std::size_t field_count_ = 0;
  RecordPosition position_;
  std::uint64_t records_ = 0;
  std::optional<std::size_t> expected_fields_;
  bool handed_out_ = false;
  std::optional<FerolinError> failure_;
};

}  // namespace ferolin::table
