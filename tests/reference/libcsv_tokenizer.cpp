#include "reference/libcsv_tokenizer.h"

#include <csv.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/utf8.h"

namespace ferolin::reference {
namespace {

constexpr unsigned char kStrict = CSV_STRICT | CSV_STRICT_FINI;
constexpr unsigned char kLenient = CSV_STRICT_FINI;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// libcsv grows its field buffer by this step (its default of 128 bytes would
// make a long multi-line field cost a realloc every 128 bytes).
constexpr std::size_t kFieldBufferStep = 64 * 1024;

// Installed instead of libcsv's default (space and tab) so that no field is
// trimmed and no space before a quote is skipped.
int never_space(unsigned char) { return 0; }

// Most fields are short; a call to memcpy costs more than copying them.
inline void copy_bytes(char* to, const char* from, std::size_t size) {
  if (size > 32) {
    std::memcpy(to, from, size);
  } else if (size > 16) {
    std::memcpy(to, from, 16);
    std::memcpy(to + size - 16, from + size - 16, 16);
  } else if (size >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + size - 8, from + size - 8, 8);
  } else if (size >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + size - 4, from + size - 4, 4);
  } else {
    for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
  }
}

bool is_line_break(char c) { return c == '\n' || c == '\r'; }

std::size_t find_byte(std::string_view text, std::size_t from, char c) {
  const void* hit = std::memchr(text.data() + from, c, text.size() - from);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : text.size();
}

}  // namespace

LibcsvTokenizer::LibcsvTokenizer(char separator) : parser_(std::make_unique<csv_parser>()) {
  field_bounds_ = std::make_unique<std::size_t[]>(1);
  csv_init(parser_.get(), kStrict);
  csv_set_delim(parser_.get(), static_cast<unsigned char>(separator));
  csv_set_blk_size(parser_.get(), kFieldBufferStep);
}

LibcsvTokenizer::~LibcsvTokenizer() { csv_free(parser_.get()); }

void LibcsvTokenizer::supply(std::string_view bytes) {
  input_offset_ += input_.size();
  input_ = bytes;
  input_pos_ = 0;
  input_is_ascii_ = is_ascii(bytes);
  next_lf_ = find_byte(input_, 0, '\n');
  next_cr_ = find_byte(input_, 0, '\r');
  next_space_ = find_byte(input_, 0, ' ');
  next_tab_ = find_byte(input_, 0, '\t');
}

void LibcsvTokenizer::finish() { finished_ = true; }

Result<LibcsvTokenizer::Step> LibcsvTokenizer::next() {
  if (failure_) return std::unexpected(*failure_);
  if (record_ready_) {
    record_ready_ = false;
    record_size_ = 0;
    field_count_ = 0;
    record_may_be_non_ascii_ = false;
  }
  while (true) {
    if (input_pos_ < input_.size()) {
      if (bom_pending_) {
        skip_byte_order_mark();
      } else {
        feed_next_piece();
      }
    } else if (!finished_) {
      return Step::NeedInput;
    } else if (!parser_finished_) {
      finish_parser();
    } else {
      return Step::End;
    }
    if (failure_) return std::unexpected(*failure_);
    if (record_ready_) return complete_record();
  }
}

void LibcsvTokenizer::skip_byte_order_mark() {
  while (bom_pending_ && input_pos_ < input_.size()) {
    if (input_[input_pos_] == kByteOrderMark[bom_matched_]) {
      ++input_pos_;
      bom_pending_ = ++bom_matched_ < kByteOrderMark.size();
      continue;
    }
    // Not a byte-order mark after all: the bytes that matched are data.
    bom_pending_ = false;
    if (bom_matched_ > 0) feed_byte_order_mark_prefix();
  }
}

void LibcsvTokenizer::feed_byte_order_mark_prefix() {
  record_may_be_non_ascii_ = true;
  feed(kByteOrderMark.data(), bom_matched_, 0, false);
}

// libcsv reports neither where a record starts nor where it ends, and it
// cannot be stopped from a callback. Feeding it one piece at a time, each
// ending at the next CR or LF, makes every record end on the last byte of a
// piece: after each piece at most one record is complete, and a record
// starts at the first byte of a piece.
void LibcsvTokenizer::feed_next_piece() {
  if (next_lf_ < input_pos_) next_lf_ = find_byte(input_, input_pos_, '\n');
  if (next_cr_ < input_pos_) next_cr_ = find_byte(input_, input_pos_, '\r');
  if (next_space_ < input_pos_) next_space_ = find_byte(input_, input_pos_, ' ');
  if (next_tab_ < input_pos_) next_tab_ = find_byte(input_, input_pos_, '\t');
  const std::size_t stop = std::min({next_lf_ + 1, next_cr_ + 1, input_.size()});
  const bool has_spaces = std::min(next_space_, next_tab_) < stop;
  record_may_be_non_ascii_ |= !input_is_ascii_;
  feed(input_.data() + input_pos_, stop - input_pos_, input_offset_ + input_pos_, has_spaces);
  input_pos_ = stop;
}

void LibcsvTokenizer::feed(const char* bytes, std::size_t size, std::uint64_t offset,
                           bool has_spaces) {
  if (!in_record_ && !is_line_break(bytes[0])) {
    in_record_ = true;
    position_ = RecordPosition{records_, line_, offset};
  }
  // Calling the space function for every byte costs time; libcsv's default
  // test is equivalent for pieces without a space or tab.
  if (has_spaces != space_function_installed_) {
    csv_set_space_func(parser_.get(), has_spaces ? never_space : nullptr);
    space_function_installed_ = has_spaces;
  }
  parse(bytes, size);
  // A piece holds at most one line break, at its end; an LF completes a
  // CRLF only when it is the whole piece, right after a piece ending in CR.
  const char last = bytes[size - 1];
  const bool lf_of_crlf = size == 1 && last == '\n' && last_was_cr_;
  if (is_line_break(last) && !lf_of_crlf) ++line_;
  last_was_cr_ = last == '\r';
}

void LibcsvTokenizer::parse(const char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (true) {
    done += csv_parse(parser_.get(), bytes + done, size - done, on_field, on_record, this);
    if (out_of_memory_) return fail(parse_error(field_count_, csv_strerror(CSV_ENOMEM)));
    if (done == size) return;
    const int status = csv_error(parser_.get());
    if (status != CSV_EPARSE) return fail(parse_error(field_count_, csv_strerror(status)));
    // Strict mode stopped after a closing quote; the lenient mode would merge
    // the rest of the field, and the records after it, into one field.
    if (bytes[done] != '"') {
      return fail(parse_error(field_count_, "unexpected character after closing quote"));
    }
    // Strict mode stopped at a quote inside an unquoted field, which is an
    // ordinary character: take that one byte leniently.
    parser_->status = CSV_SUCCESS;
    csv_set_opts(parser_.get(), kLenient);
    const std::size_t taken = csv_parse(parser_.get(), bytes + done, 1, on_field, on_record, this);
    csv_set_opts(parser_.get(), kStrict);
    if (taken != 1) return fail(parse_error(field_count_, csv_strerror(CSV_ENOMEM)));
    if (++done == size) return;
  }
}

void LibcsvTokenizer::finish_parser() {
  parser_finished_ = true;
  if (bom_pending_) {
    bom_pending_ = false;
    if (bom_matched_ > 0) feed_byte_order_mark_prefix();
    if (failure_) return;
  }
  // A quote that never closes would otherwise swallow the rest of the file
  // into one field, losing its records without a word.
  if (csv_fini(parser_.get(), on_field, on_record, this) != 0) {
    fail(parse_error(field_count_, "quoted field not closed before end of file"));
  } else if (out_of_memory_) {
    fail(parse_error(field_count_, csv_strerror(CSV_ENOMEM)));
  }
}

Result<LibcsvTokenizer::Step> LibcsvTokenizer::complete_record() {
  if (auto error = check_record()) {
    fail(std::move(*error));
    return std::unexpected(*failure_);
  }
  if (!expected_fields_) expected_fields_ = field_count_;
  ++records_;
  return Step::Record;
}

std::optional<FerolinError> LibcsvTokenizer::check_record() const {
  if (expected_fields_ && *expected_fields_ != field_count_) {
    return FerolinError::csv(
        "CSV error: record " + std::to_string(position_.record) +
        " (line: " + std::to_string(position_.line) + ", byte: " + std::to_string(position_.byte) +
        "): found record with " + std::to_string(field_count_) +
        " fields, but the previous record has " + std::to_string(*expected_fields_) + " fields");
  }
  if (!record_may_be_non_ascii_) return std::nullopt;
  for (std::size_t i = 0; i < field_count_; ++i) {
    if (const auto valid_up_to = utf8_error_offset(field(i))) {
      return parse_error(i, "invalid utf-8: invalid UTF-8 in field " + std::to_string(i) +
                                " near byte index " + std::to_string(*valid_up_to));
    }
  }
  return std::nullopt;
}

FerolinError LibcsvTokenizer::parse_error(std::size_t field, std::string_view reason) const {
  return FerolinError::csv(
      "CSV parse error: record " + std::to_string(position_.record) + " (line " +
      std::to_string(position_.line) + ", field: " + std::to_string(field) +
      ", byte: " + std::to_string(position_.byte) + "): " + std::string(reason));
}

void LibcsvTokenizer::fail(FerolinError error) { failure_ = std::move(error); }

// The callbacks only record what they see: libcsv is C and must not be
// unwound by an exception, so a failed allocation becomes a flag.
void LibcsvTokenizer::on_field(void* bytes, std::size_t size, void* self) {
  LibcsvTokenizer& t = *static_cast<LibcsvTokenizer*>(self);
  const std::size_t end = t.record_size_ + size;
  if (end > t.record_capacity_ || t.field_count_ == t.field_capacity_) [[unlikely]] {
    if (!t.make_room(size)) {
      t.out_of_memory_ = true;
      return;
    }
  }
  copy_bytes(t.record_bytes_.get() + t.record_size_, static_cast<const char*>(bytes), size);
  t.record_size_ = end;
  t.field_bounds_[++t.field_count_] = end;
}

bool LibcsvTokenizer::make_room(std::size_t size) noexcept {
  try {
    if (field_count_ == field_capacity_) {
      const std::size_t capacity = std::max<std::size_t>(16, 2 * field_capacity_);
      auto bounds = std::make_unique_for_overwrite<std::size_t[]>(capacity + 1);
      std::copy_n(field_bounds_.get(), field_count_ + 1, bounds.get());
      field_bounds_ = std::move(bounds);
      field_capacity_ = capacity;
    }
    if (size > record_capacity_ - record_size_) {
      const std::size_t capacity =
          std::max({2 * record_capacity_, record_size_ + size, std::size_t{256}});
      auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
      if (record_size_ > 0) std::memcpy(bytes.get(), record_bytes_.get(), record_size_);
      record_bytes_ = std::move(bytes);
      record_capacity_ = capacity;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void LibcsvTokenizer::on_record(int /*terminator*/, void* self) {
  auto* tokenizer = static_cast<LibcsvTokenizer*>(self);
  tokenizer->record_ready_ = true;
  tokenizer->in_record_ = false;
}

}  // namespace ferolin::reference
