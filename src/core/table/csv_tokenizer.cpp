#include "core/table/csv_tokenizer.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "core/table/csv_record_errors.h"
#include "core/utf8.h"

namespace ferolin::table {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// A record cut by the end of a chunk is completed in the tokenizer's own
// buffer from pieces of the next chunk: the first of this size (most records
// end well within it), later ones as large as what is stitched so far, so
// that a huge record costs few copies.
constexpr std::size_t kFirstPiece = 4096;
constexpr std::size_t kFirstFieldCapacity = 64;

std::uintptr_t address(const char* p) { return reinterpret_cast<std::uintptr_t>(p); }

}  // namespace

CsvTokenizer::CsvTokenizer(char separator, ScanVariant variant)
    : separator_(separator),
      variant_(variant),
      field_ends_(std::make_unique_for_overwrite<std::uint32_t[]>(kWindow + kScanSlack)),
      quoted_marks_(std::make_unique_for_overwrite<std::uint32_t[]>(kWindow + kScanSlack)) {
  reserve_fields(kFirstFieldCapacity);
  clear_window();
  if (!is_valid_separator(separator)) {
    failure_ = FerolinError::csv(
        "the separator must be an ASCII character other than NUL, the double quote, CR and LF");
  } else if (!is_supported(variant)) {
    failure_ = FerolinError::csv("the scan variant " + std::string(scan_variant_name(variant)) +
                                 " needs instructions this processor does not have");
  }
}

CsvTokenizer::~CsvTokenizer() = default;

void CsvTokenizer::supply(std::string_view bytes) {
  if (bytes.empty()) return;
  chunk_ = bytes;
  // While stitching, the chunk is taken in pieces by refill().
  if (!bom_pending_ && !stitching_) read_chunk_from(0);
}

void CsvTokenizer::finish() { finished_ = true; }

void CsvTokenizer::resume(const ResumePoint& at) {
  bom_pending_ = false;  // a byte-order mark stands only at the start of a file
  chunk_offset_ = at.next.byte;
  records_ = at.next.record;
  line_ = record_line_ = at.next.line;
  last_chunk_byte_ = at.byte_before;
  expected_fields_ = at.fields;
}

Result<CsvTokenizer::Step> CsvTokenizer::next() {
  if (failure_) [[unlikely]]
    return std::unexpected(*failure_);
  if (record_out_) {
    // The record handed out is no longer read: its copies can go.
    record_out_ = false;
    unescaped_.clear();
    if (stitching_) leave_stitch();
  }
  if (bom_pending_ && !resolve_byte_order_mark()) return need_input();
  while (true) {
    Step step = Step::Record;
    Flow flow = walk();
    if (flow == Flow::Continue) flow = refill(step);
    if (flow == Flow::Return) return step;
    if (flow == Flow::Failed) return std::unexpected(*failure_);
  }
}

// Returns false while the bytes seen so far might still begin a byte-order
// mark. A mark is skipped (its bytes still count in the offsets); bytes that
// began like one but are not are data.
bool CsvTokenizer::resolve_byte_order_mark() {
  const std::size_t earlier = bom_matched_ - bom_matched_in_chunk_;
  while (bom_matched_ < kByteOrderMark.size() && bom_matched_in_chunk_ < chunk_.size() &&
         chunk_[bom_matched_in_chunk_] == kByteOrderMark[bom_matched_]) {
    ++bom_matched_;
    ++bom_matched_in_chunk_;
  }
  const bool mismatch = bom_matched_in_chunk_ < chunk_.size();
  if (bom_matched_ < kByteOrderMark.size() && !mismatch && !finished_) return false;
  bom_pending_ = false;
  if (bom_matched_ == kByteOrderMark.size()) {
    read_chunk_from(bom_matched_in_chunk_);
  } else if (mismatch && earlier == 0) {
    read_chunk_from(0);
  } else if (mismatch) {
    // Bytes of earlier chunks are data: the current record starts with them.
    start_stitch(kByteOrderMark.substr(0, earlier), 0, false);
  } else if (bom_matched_ > 0) {
    // The input ends within what could have been a mark.
    chunk_appended_ = chunk_.size();
    start_stitch(kByteOrderMark.substr(0, bom_matched_), 0, false);
  } else {
    read_chunk_from(0);
  }
  return true;
}

// Walks the field ends of the current window; stops after a record.
CsvTokenizer::Flow CsvTokenizer::walk() {
  const std::uint32_t* next_end = next_end_;
  const std::uint32_t* const ends_end = ends_end_;
  const char* const window = window_;
  const char separator = separator_;
  std::string_view* const first = fields_.get();
  std::string_view* field = first + fields_in_record_;
  const char* field_begin = field_begin_;
  while (next_end != ends_end) {
    const char* const end = window + *next_end++;
    const char* const begin = field_begin;
    field_begin = end + 1;
    *field = std::string_view(begin, static_cast<std::size_t>(end - begin));
    if (*begin == '"') [[unlikely]] {
      fields_in_record_ = static_cast<std::size_t>(field - first);
      *field = quoted_field(begin, end);
    }
    ++field;
    if (*end == separator) continue;
    line_ += !(*end == '\n' && byte_before(end) == '\r');
    if (field == first + 1 && begin == end) {  // a blank line
      field = first;
      record_begin_ = field_begin;
      record_line_ = line_;
      continue;
    }
    next_end_ = next_end;
    return complete_record(static_cast<std::size_t>(field - first), end, field_begin);
  }
  next_end_ = next_end;
  field_begin_ = field_begin;
  fields_in_record_ = static_cast<std::size_t>(field - first);
  return Flow::Continue;
}

// Returns the content of the quoted field [begin, end), which ends with its
// closing quote.
std::string_view CsvTokenizer::quoted_field(const char* begin, const char* end) {
  take_quoted_marks(end);
  const std::string_view content(begin + 1, static_cast<std::size_t>(end - begin) - 2);
  if (!unescape_field_) return content;
  unescape_field_ = false;
  return unescape(content);
}

// The marks before `limit` lie in the quoted field being walked: its line
// breaks count, and a doubled quote means it must be unescaped.
void CsvTokenizer::take_quoted_marks(const char* limit) {
  while (next_mark_ != marks_end_) {
    const char* const at = window_ + *next_mark_;
    if (address(at) >= address(limit)) return;
    ++next_mark_;
    if (*at == '"') {
      unescape_field_ = true;
    } else if (*at != separator_) {
      line_ += !(*at == '\n' && at[-1] == '\r');
    }
  }
}

// Returns `content` with each doubled quote made one, in unescaped_.
std::string_view CsvTokenizer::unescape(std::string_view content) {
  const std::size_t old_size = unescaped_.size();
  if (const std::uintptr_t moved_from = unescaped_.reserve_more(content.size())) {
    rebase_fields(moved_from, moved_from + old_size, unescaped_.data());
  }
  char* const begin = unescaped_.data() + unescaped_.size();
  char* out = begin;
  for (std::size_t i = 0; i < content.size(); ++i) {
    *out++ = content[i];
    if (content[i] == '"') ++i;  // every quote in the content is the first of a pair
  }
  const auto size = static_cast<std::size_t>(out - begin);
  unescaped_.grow_into_reserved(size);
  return {begin, size};
}

CsvTokenizer::Flow CsvTokenizer::complete_record(std::size_t count, const char* end,
                                                 const char* next_begin) {
  position_ = current_position();
  field_count_ = count;
  if (expected_fields_ && *expected_fields_ != count) [[unlikely]] {
    return fail(field_count_error(position_, count, *expected_fields_));
  }
  // The record's bytes are valid UTF-8 exactly when all its fields are:
  // fields are those bytes split and stripped at ASCII characters.
  if (record_non_ascii_ && may_hold_non_ascii(end) &&
      utf8_error_offset({record_begin_, static_cast<std::size_t>(end - record_begin_)}))
      [[unlikely]] {
    if (auto error = utf8_error(position_, fields_.get(), count)) return fail(std::move(*error));
  }
  if (static_cast<std::uint64_t>(end - record_begin_) > max_field_bytes_) [[unlikely]] {
    if (const auto field = long_field(count)) return fail_long_field(*field);
  }
  if (!expected_fields_) expected_fields_ = count;
  ++records_;
  record_begin_ = field_begin_ = next_begin;
  record_line_ = line_;
  record_non_ascii_ = window_non_ascii_;
  fields_in_record_ = 0;
  record_out_ = true;
  return Flow::Return;
}

// Called when the walker has used up the current window: scans the next
// one, or says what the caller must do.
CsvTokenizer::Flow CsvTokenizer::refill(Step& step) {
  if (bad_quote_) {
    return fail(parse_error(current_position(), fields_in_record_,
                            "unexpected character after closing quote"));
  }
  take_quoted_marks(scanned_);  // the rest of the window's marks lie in the field being walked
  // The field being walked is checked window by window, before it grows
  // further: beyond twice the limit and its quotes as read, its text (each
  // doubled quote one) must be longer than the limit.
  if (static_cast<std::uint64_t>(scanned_ - field_begin_) / 2 > max_field_bytes_) {
    position_ = current_position();
    return fail_long_field(fields_in_record_);
  }
  // A record of endless short fields (a header that never ends) is held
  // whole too, with a view per field: it gets a bound of its own.
  if (static_cast<std::uint64_t>(scanned_ - record_begin_) / kRecordFields > max_field_bytes_) {
    position_ = current_position();
    return fail(
        too_long_error(position_, fields_in_record_, max_field_bytes_ * kRecordFields, true));
  }
  if (scanned_ == buffer_end_ && stitching_ && chunk_appended_ < chunk_.size()) append_piece();
  if (scanned_ != buffer_end_) {
    scan_next_window();
    return Flow::Continue;
  }
  if (!finished_) {
    keep_unfinished_record();
    step = need_input();
    return Flow::Return;
  }
  return finish_input(step);
}

CsvTokenizer::Flow CsvTokenizer::finish_input(Step& step) {
  if (quote_state_ == QuoteState::Quoted) {
    return fail(parse_error(current_position(), fields_in_record_,
                            "quoted field not closed before end of file"));
  }
  if (fields_in_record_ == 0 && field_begin_ == buffer_end_) {
    step = Step::End;
    return Flow::Return;
  }
  // The last record ends at the end of the input, without a line end.
  reserve_fields(fields_in_record_ + 1);
  const char* const end = buffer_end_;
  std::string_view field(field_begin_, static_cast<std::size_t>(end - field_begin_));
  if (field_begin_ != end && *field_begin_ == '"') field = quoted_field(field_begin_, end);
  fields_[fields_in_record_] = field;
  step = Step::Record;
  return complete_record(fields_in_record_ + 1, end, end);
}

void CsvTokenizer::scan_next_window() {
  const std::size_t size = std::min(static_cast<std::size_t>(buffer_end_ - scanned_), kWindow);
  const WindowScan scan =
      scan_window(variant_, {scanned_, size}, separator_, quote_state_, field_ends_.get(),
                  quoted_marks_.get(), non_ascii_blocks_.data());
  window_ = scanned_;
  scanned_ += size;
  next_end_ = field_ends_.get();
  ends_end_ = next_end_ + scan.field_ends;
  next_mark_ = quoted_marks_.get();
  marks_end_ = next_mark_ + scan.quoted_marks;
  bad_quote_ = scan.bad_quote ? window_ + *scan.bad_quote : nullptr;
  window_non_ascii_ = scan.non_ascii;
  record_non_ascii_ |= scan.non_ascii;
  // Each field end completes at most one field.
  reserve_fields(fields_in_record_ + scan.field_ends + 1);
}

// Returns false when no byte of the record being walked, which ends before
// `end`, is above 0x7F, as the bits of the window's blocks tell; true when
// one may be.
bool CsvTokenizer::may_hold_non_ascii(const char* end) const {
  // A record begun in an earlier window has record_non_ascii_ alone.
  if (address(record_begin_) < address(window_)) return true;
  const auto first = static_cast<std::size_t>(record_begin_ - window_) / 64;
  const auto last = static_cast<std::size_t>(end - 1 - window_) / 64;
  for (std::size_t block = first; block <= last; ++block) {
    if ((non_ascii_blocks_[block / 64] >> (block % 64)) & 1) return true;
  }
  return false;
}

// The caller may reuse the chunk's memory once it has been used up, so it
// is let go here; its last byte is kept, as a line feed at the start of the
// next chunk may complete a CRLF.
CsvTokenizer::Step CsvTokenizer::need_input() {
  if (!chunk_.empty()) {
    last_chunk_byte_ = chunk_.back();
    chunk_offset_ += chunk_.size();
    chunk_ = {};
    chunk_appended_ = 0;
    bom_matched_in_chunk_ = 0;
  }
  return Step::NeedInput;
}

void CsvTokenizer::read_chunk_from(std::size_t offset) {
  stitching_ = false;
  buffer_ = chunk_.data();
  buffer_end_ = buffer_ + chunk_.size();
  buffer_offset_ = chunk_offset_;
  byte_before_buffer_ = last_chunk_byte_;
  scanned_ = record_begin_ = field_begin_ = buffer_ + offset;
  record_non_ascii_ = false;
  clear_window();
}

// The chunk is used up within a record: its bytes so far move to stitch_,
// where the next chunk's bytes are appended until the record ends.
void CsvTokenizer::keep_unfinished_record() {
  if (stitching_ || (fields_in_record_ == 0 && record_begin_ == buffer_end_)) return;
  start_stitch({record_begin_, static_cast<std::size_t>(buffer_end_ - record_begin_)},
               current_position().byte, true);
}

// Makes `bytes`, which start a record at file offset `offset`, the buffer
// being read; `scanned` says whether they were scanned already.
void CsvTokenizer::start_stitch(std::string_view bytes, std::uint64_t offset, bool scanned) {
  const std::size_t field = scanned ? static_cast<std::size_t>(field_begin_ - bytes.data()) : 0;
  stitch_.clear();
  static_cast<void>(stitch_.reserve_more(std::max(bytes.size(), kFirstPiece)));
  stitch_.append_reserved(bytes.data(), bytes.size());
  rebase_fields(address(bytes.data()), address(bytes.data()) + bytes.size(), stitch_.data());
  stitching_ = true;
  buffer_ = stitch_.data();
  buffer_end_ = buffer_ + bytes.size();
  buffer_offset_ = offset;
  byte_before_buffer_ = 0;  // never read: a record does not start with a line end
  record_begin_ = buffer_;
  field_begin_ = buffer_ + field;
  scanned_ = scanned ? buffer_end_ : buffer_;
  clear_window();
}

void CsvTokenizer::append_piece() {
  const std::size_t piece =
      std::min(chunk_.size() - chunk_appended_, std::max(kFirstPiece, stitch_.size()));
  const auto record = static_cast<std::size_t>(record_begin_ - buffer_);
  const auto field = static_cast<std::size_t>(field_begin_ - buffer_);
  const auto scanned = static_cast<std::size_t>(scanned_ - buffer_);
  const std::size_t old_size = stitch_.size();
  if (const std::uintptr_t moved_from = stitch_.reserve_more(piece)) {
    rebase_fields(moved_from, moved_from + old_size, stitch_.data());
  }
  stitch_.append_reserved(chunk_.data() + chunk_appended_, piece);
  chunk_appended_ += piece;
  buffer_ = stitch_.data();
  buffer_end_ = buffer_ + stitch_.size();
  record_begin_ = buffer_ + record;
  field_begin_ = buffer_ + field;
  scanned_ = buffer_ + scanned;
  clear_window();
}

// Called once the stitched record has been handed out. The stitched bytes
// after it came from the current chunk, so reading goes on there.
void CsvTokenizer::leave_stitch() {
  const auto unread = static_cast<std::size_t>(buffer_end_ - record_begin_);
  read_chunk_from(chunk_appended_ - unread);
  stitch_.clear();
  // The scan of the stitch ran past the record; the chunk is scanned afresh
  // from the record's end.
  quote_state_ = QuoteState::FieldStart;
}

// Moves the fields of the record being walked that lie in the bytes that
// were at [old_begin, old_end] to the same place in the bytes at new_begin.
void CsvTokenizer::rebase_fields(std::uintptr_t old_begin, std::uintptr_t old_end,
                                 const char* new_begin) {
  for (std::size_t i = 0; i < fields_in_record_; ++i) {
    const std::uintptr_t at = address(fields_[i].data());
    if (at - old_begin <= old_end - old_begin) {
      fields_[i] = std::string_view(new_begin + (at - old_begin), fields_[i].size());
    }
  }
}

void CsvTokenizer::reserve_fields(std::size_t count) {
  if (count <= field_capacity_) return;
  const std::size_t capacity = std::max(count, 2 * field_capacity_);
  auto fields = std::make_unique<std::string_view[]>(capacity);
  std::copy_n(fields_.get(), fields_in_record_, fields.get());
  fields_ = std::move(fields);
  field_capacity_ = capacity;
}

void CsvTokenizer::clear_window() {
  next_end_ = ends_end_ = field_ends_.get();
  next_mark_ = marks_end_ = quoted_marks_.get();
  window_ = scanned_;
  bad_quote_ = nullptr;
}

RecordPosition CsvTokenizer::current_position() const {
  return {records_, record_line_,
          buffer_offset_ + static_cast<std::uint64_t>(record_begin_ - buffer_)};
}

// Returns the first of the record's `count` fields whose text is longer
// than the limit.
std::optional<std::size_t> CsvTokenizer::long_field(std::size_t count) const {
  for (std::size_t i = 0; i < count; ++i) {
    if (fields_[i].size() > max_field_bytes_) return i;
  }
  return std::nullopt;
}

CsvTokenizer::Flow CsvTokenizer::fail_long_field(std::size_t field) {
  return fail(too_long_error(position_, field, max_field_bytes_, false));
}

CsvTokenizer::Flow CsvTokenizer::fail(FerolinError error) {
  failure_ = std::move(error);
  return Flow::Failed;
}

}  // namespace ferolin::table
