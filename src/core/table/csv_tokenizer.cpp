#include "core/table/csv_tokenizer.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "core/table/csv_record_errors.h"
#include "core/utf8.h"

namespace ferolin::table {
namespace {

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
  if (stitcher_.supply(bytes, at_)) restart_walk();
}

void CsvTokenizer::resume(const ResumePoint& at) {
  stitcher_.resume(at.next.byte, at.byte_before);
  records_ = at.next.record;
  line_ = record_line_ = at.next.line;
  expected_fields_ = at.fields;
}

Result<CsvTokenizer::Step> CsvTokenizer::next() {
  if (failure_) [[unlikely]]
    return std::unexpected(*failure_);
  if (handed_out_) {
    // The record handed out is no longer read: its copies can go.
    handed_out_ = false;
    unescaped_.clear();
    if (stitcher_.carrying()) {
      stitcher_.leave_carry(at_);
      restart_walk();
      // The scan of the carried bytes ran past the record; the chunk is
      // scanned afresh from the record's end.
      quote_state_ = QuoteState::FieldStart;
    }
  }
  if (stitcher_.byte_order_mark_pending()) {
    if (!stitcher_.settle_byte_order_mark(at_)) return need_input();
    restart_walk();
  }
  while (true) {
    Step step = Step::Record;
    Flow flow = walk();
    if (flow == Flow::Continue) flow = refill(step);
    if (flow == Flow::Return) return step;
    if (flow == Flow::Failed) return std::unexpected(*failure_);
  }
}

// Walks the field ends of the current window; stops after a record.
CsvTokenizer::Flow CsvTokenizer::walk() {
  const std::uint32_t* next_end = next_end_;
  const std::uint32_t* const ends_end = ends_end_;
  const char* const window = window_;
  const char separator = separator_;
  FieldSpan* const first = fields_.get();
  FieldSpan* field = first + fields_in_record_;
  const char* record = at_.record;
  const char* field_begin = at_.field;
  while (next_end != ends_end) {
    const char* const end = window + *next_end++;
    const char* const begin = field_begin;
    field_begin = end + 1;
    *field = {static_cast<std::size_t>(begin - record), static_cast<std::size_t>(end - begin)};
    if (*begin == '"') [[unlikely]] {
      *field = quoted_field(begin, end, record);
    }
    ++field;
    if (*end == separator) continue;
    line_ += !(*end == '\n' && stitcher_.byte_before(end) == '\r');
    if (field == first + 1 && begin == end) {  // a blank line
      field = first;
      record = at_.record = field_begin;
      record_line_ = line_;
      continue;
    }
    next_end_ = next_end;
    return complete_record(static_cast<std::size_t>(field - first), end, field_begin);
  }
  next_end_ = next_end;
  at_.field = field_begin;
  fields_in_record_ = static_cast<std::size_t>(field - first);
  return Flow::Continue;
}

// Returns the content of the quoted field [begin, end), which ends with its
// closing quote, in the record that starts at `record`.
CsvTokenizer::FieldSpan CsvTokenizer::quoted_field(const char* begin, const char* end,
                                                   const char* record) {
  take_quoted_marks(end);
  const auto size = static_cast<std::size_t>(end - begin) - 2;
  if (!unescape_field_) return {static_cast<std::size_t>(begin + 1 - record), size};
  unescape_field_ = false;
  return unescape({begin + 1, size});
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
CsvTokenizer::FieldSpan CsvTokenizer::unescape(std::string_view content) {
  unescaped_.reserve_more(content.size());
  const std::size_t offset = unescaped_.size();
  char* const begin = unescaped_.data() + offset;
  char* out = begin;
  for (std::size_t i = 0; i < content.size(); ++i) {
    *out++ = content[i];
    if (content[i] == '"') ++i;  // every quote in the content is the first of a pair
  }
  const auto size = static_cast<std::size_t>(out - begin);
  unescaped_.grow_into_reserved(size);
  return {offset | FieldSpan::kUnescaped, size};
}

CsvTokenizer::Flow CsvTokenizer::complete_record(std::size_t count, const char* end,
                                                 const char* next_begin) {
  position_ = current_position();
  field_count_ = count;
  record_out_ = at_.record;
  if (expected_fields_ && *expected_fields_ != count) [[unlikely]] {
    return fail(field_count_error(position_, count, *expected_fields_));
  }
  // The record's bytes are valid UTF-8 exactly when all its fields are:
  // fields are those bytes split and stripped at ASCII characters. Bytes
  // dropped from skipped fields were checked as they went.
  if (skipped_.dropped_invalid() ||
      (record_non_ascii_ && may_hold_non_ascii(end) &&
       utf8_error_offset({at_.record, static_cast<std::size_t>(end - at_.record)}))) [[unlikely]] {
    if (auto error = utf8_failure(count)) return fail(std::move(*error));
  }
  if (static_cast<std::uint64_t>(end - at_.record) > max_field_bytes_) [[unlikely]] {
    if (const auto field = long_field(count)) return fail_long_field(*field);
  }
  if (skipped_.any_dropped()) [[unlikely]] {
    skipped_.for_each_dropped([this](std::size_t field) { fields_[field] = {}; });
    skipped_.next_record();
  }
  accounted_fields_ = 0;
  kept_text_ = 0;
  if (!expected_fields_) expected_fields_ = count;
  ++records_;
  at_.record = at_.field = next_begin;
  record_line_ = line_;
  record_non_ascii_ = window_non_ascii_;
  fields_in_record_ = 0;
  handed_out_ = true;
  return Flow::Return;
}

// Called when the walker has used up the current window: scans the next
// one, or says what the caller must do.
CsvTokenizer::Flow CsvTokenizer::refill(Step& step) {
  if (bad_quote_) {
    return fail(parse_error(current_position(), fields_in_record_,
                            "unexpected character after closing quote"));
  }
  take_quoted_marks(at_.scanned);  // the rest of the window's marks lie in the field being walked
  const bool skipping = skipped_.skipped(fields_in_record_);
  // A kept field being walked is checked window by window, before it grows
  // further: beyond twice the limit and its quotes as read, its text (each
  // doubled quote one) must be longer than the limit.
  if (!skipping && static_cast<std::uint64_t>(at_.scanned - at_.field) / 2 > max_field_bytes_) {
    position_ = current_position();
    return fail_long_field(fields_in_record_);
  }
  // A record of endless short fields (a header that never ends) is held
  // whole too, with a view per field: it gets a bound of its own.
  if (max_field_bytes_ != UINT64_MAX && kept_bytes_scanned() / kRecordFields > max_field_bytes_) {
    position_ = current_position();
    return fail(
        too_long_error(position_, fields_in_record_, max_field_bytes_ * kRecordFields, true));
  }
  if (skipping && stitcher_.carrying()) drop_skipped_text();
  if (at_.scanned == stitcher_.end() && stitcher_.chunk_left()) {
    stitcher_.append_piece(at_);
    clear_window();
  }
  if (at_.scanned != stitcher_.end()) {
    scan_next_window();
    return Flow::Continue;
  }
  if (!stitcher_.finished()) {
    // The chunk is used up within a record: the stitcher carries it on.
    if (!stitcher_.carrying() && (fields_in_record_ != 0 || at_.record != stitcher_.end())) {
      stitcher_.carry_record(at_);
      clear_window();
    }
    step = need_input();
    return Flow::Return;
  }
  return finish_input(step);
}

// Returns the bytes of the record scanned so far; where fields are
// skipped, the text of its kept fields and a byte for each field.
std::uint64_t CsvTokenizer::kept_bytes_scanned() {
  if (!skipped_.any()) return static_cast<std::uint64_t>(at_.scanned - at_.record);
  for (; accounted_fields_ < fields_in_record_; ++accounted_fields_) {
    if (!skipped_.skipped(accounted_fields_)) kept_text_ += fields_[accounted_fields_].size;
  }
  std::uint64_t kept = kept_text_ + fields_in_record_;
  if (!skipped_.skipped(fields_in_record_)) {
    kept += static_cast<std::uint64_t>(at_.scanned - at_.field);
  }
  return kept;
}

// The text of the skipped field being walked, as far as it is scanned,
// leaves the carried record: it is not kept, however long it runs.
void CsvTokenizer::drop_skipped_text() {
  if (at_.field == at_.scanned) return;
  const SkippedFields::Cut cut = skipped_.cut(fields_in_record_, at_.field, at_.scanned);
  if (cut.to <= cut.from) return;
  skipped_.drop(fields_in_record_, at_.field, cut);
  stitcher_.drop(cut.from, cut.to, at_);
  clear_window();
}

CsvTokenizer::Flow CsvTokenizer::finish_input(Step& step) {
  if (quote_state_ == QuoteState::Quoted) {
    return fail(parse_error(current_position(), fields_in_record_,
                            "quoted field not closed before end of file"));
  }
  if (fields_in_record_ == 0 && at_.field == stitcher_.end()) {
    step = Step::End;
    return Flow::Return;
  }
  // The last record ends at the end of the input, without a line end.
  reserve_fields(fields_in_record_ + 1);
  const char* const begin = at_.field;
  const char* const end = stitcher_.end();
  FieldSpan field{static_cast<std::size_t>(begin - at_.record),
                  static_cast<std::size_t>(end - begin)};
  if (begin != end && *begin == '"') field = quoted_field(begin, end, at_.record);
  fields_[fields_in_record_] = field;
  step = Step::Record;
  return complete_record(fields_in_record_ + 1, end, end);
}

void CsvTokenizer::scan_next_window() {
  const std::size_t size =
      std::min(static_cast<std::size_t>(stitcher_.end() - at_.scanned), kWindow);
  const WindowScan scan =
      scan_window(variant_, {at_.scanned, size}, separator_, quote_state_, field_ends_.get(),
                  quoted_marks_.get(), non_ascii_blocks_.data());
  window_ = at_.scanned;
  at_.scanned += size;
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
  if (address(at_.record) < address(window_)) return true;
  const auto first = static_cast<std::size_t>(at_.record - window_) / 64;
  const auto last = static_cast<std::size_t>(end - 1 - window_) / 64;
  for (std::size_t block = first; block <= last; ++block) {
    if ((non_ascii_blocks_[block / 64] >> (block % 64)) & 1) return true;
  }
  return false;
}

// The caller may reuse the chunk's memory once it has been used up, so it
// is let go here.
CsvTokenizer::Step CsvTokenizer::need_input() {
  stitcher_.release_chunk();
  return Step::NeedInput;
}

// Called when the walk starts afresh at at_.record, in other bytes.
void CsvTokenizer::restart_walk() {
  record_non_ascii_ = false;
  clear_window();
}

void CsvTokenizer::reserve_fields(std::size_t count) {
  if (count <= field_capacity_) return;
  const std::size_t capacity = std::max(count, 2 * field_capacity_);
  auto fields = std::make_unique<FieldSpan[]>(capacity);
  std::copy_n(fields_.get(), fields_in_record_, fields.get());
  fields_ = std::move(fields);
  field_capacity_ = capacity;
}

void CsvTokenizer::clear_window() {
  next_end_ = ends_end_ = field_ends_.get();
  next_mark_ = marks_end_ = quoted_marks_.get();
  window_ = at_.scanned;
  bad_quote_ = nullptr;
}

RecordPosition CsvTokenizer::current_position() const {
  return {records_, record_line_, stitcher_.file_offset(at_.record)};
}

// Returns the failure of the first of the record's `count` fields whose
// text is not valid UTF-8, or nothing when all are.
std::optional<FerolinError> CsvTokenizer::utf8_failure(std::size_t count) const {
  for (std::size_t i = 0; i < count; ++i) {
    if (const auto valid_up_to = skipped_.invalid_text_at(i, field(i))) {
      return utf8_error(position_, i, *valid_up_to);
    }
  }
  return std::nullopt;
}

// Returns the first of the record's `count` kept fields whose text is
// longer than the limit.
std::optional<std::size_t> CsvTokenizer::long_field(std::size_t count) const {
  for (std::size_t i = 0; i < count; ++i) {
    if (fields_[i].size > max_field_bytes_ && !skipped_.skipped(i)) return i;
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
