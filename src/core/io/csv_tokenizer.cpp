#include "core/io/csv_tokenizer.h"

#include <csv.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/io/utf8.h"

namespace ferolin::io {
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

bool has_space_or_tab(const char* bytes, std::size_t size) {
  return std::memchr(bytes, ' ', size) != nullptr || std::memchr(bytes, '\t', size) != nullptr;
}

bool is_line_break(char c) { return c == '\n' || c == '\r'; }

std::size_t find_byte(std::string_view text, std::size_t from, char c) {
  const void* hit = std::memchr(text.data() + from, c, text.size() - from);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : text.size();
}

}  // namespace

CsvTokenizer::CsvTokenizer() : parser_(std::make_unique<csv_parser>()) {
  csv_init(parser_.get(), kStrict);
  csv_set_blk_size(parser_.get(), kFieldBufferStep);
}

CsvTokenizer::~CsvTokenizer() { csv_free(parser_.get()); }

void CsvTokenizer::supply(std::string_view bytes) {
  input_offset_ += input_.size();
  input_ = bytes;
  input_pos_ = 0;
  next_lf_ = find_byte(input_, 0, '\n');
  next_cr_ = find_byte(input_, 0, '\r');
}

void CsvTokenizer::finish() { finished_ = true; }

std::string_view CsvTokenizer::field(std::size_t index) const {
  const std::size_t start = index == 0 ? 0 : field_ends_[index - 1];
  return std::string_view(field_bytes_).substr(start, field_ends_[index] - start);
}

Result<CsvTokenizer::Step> CsvTokenizer::next() {
  if (failure_) return std::unexpected(*failure_);
  if (record_ready_) {
    record_ready_ = false;
    field_bytes_.clear();
    field_ends_.clear();
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

void CsvTokenizer::skip_byte_order_mark() {
  while (bom_pending_ && input_pos_ < input_.size()) {
    if (input_[input_pos_] == kByteOrderMark[bom_matched_]) {
      ++input_pos_;
      bom_pending_ = ++bom_matched_ < kByteOrderMark.size();
      continue;
    }
    // Not a byte-order mark after all: the bytes that matched are data.
    bom_pending_ = false;
    if (bom_matched_ > 0) feed(kByteOrderMark.data(), bom_matched_, 0);
  }
}

// libcsv reports neither where a record starts nor where it ends, and it
// cannot be stopped from a callback. Feeding it one piece at a time, each
// ending at the next CR or LF, makes every record end on the last byte of a
// piece: after each piece at most one record is complete, and a record
// starts at the first byte of a piece.
void CsvTokenizer::feed_next_piece() {
  if (next_lf_ < input_pos_) next_lf_ = find_byte(input_, input_pos_, '\n');
  if (next_cr_ < input_pos_) next_cr_ = find_byte(input_, input_pos_, '\r');
  const std::size_t stop = std::min({next_lf_ + 1, next_cr_ + 1, input_.size()});
  feed(input_.data() + input_pos_, stop - input_pos_, input_offset_ + input_pos_);
  input_pos_ = stop;
}

void CsvTokenizer::feed(const char* bytes, std::size_t size, std::uint64_t offset) {
  if (!in_record_ && !is_line_break(bytes[0])) {
    in_record_ = true;
    position_ = RecordPosition{records_, line_, offset};
  }
  // Calling the space function for every byte costs time; libcsv's default
  // test is equivalent for pieces without a space or tab.
  const bool spaces = has_space_or_tab(bytes, size);
  if (spaces != space_function_installed_) {
    csv_set_space_func(parser_.get(), spaces ? never_space : nullptr);
    space_function_installed_ = spaces;
  }
  parse(bytes, size);
  const char last = bytes[size - 1];
  if (is_line_break(last)) {
    count_line_break(last);
  } else {
    last_was_cr_ = false;
  }
}

void CsvTokenizer::parse(const char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (true) {
    done += csv_parse(parser_.get(), bytes + done, size - done, on_field, on_record, this);
    if (out_of_memory_) return fail(parse_error(field_ends_.size(), csv_strerror(CSV_ENOMEM)));
    if (done == size) return;
    const int status = csv_error(parser_.get());
    if (status != CSV_EPARSE) return fail(parse_error(field_ends_.size(), csv_strerror(status)));
    // Strict mode stopped after a closing quote; the lenient mode would merge
    // the rest of the field, and the records after it, into one field.
    if (bytes[done] != '"') {
      return fail(parse_error(field_ends_.size(), "unexpected character after closing quote"));
    }
    // Strict mode stopped at a quote inside an unquoted field, which is an
    // ordinary character: take that one byte leniently.
    parser_->status = CSV_SUCCESS;
    csv_set_opts(parser_.get(), kLenient);
    const std::size_t taken = csv_parse(parser_.get(), bytes + done, 1, on_field, on_record, this);
    csv_set_opts(parser_.get(), kStrict);
    if (taken != 1) return fail(parse_error(field_ends_.size(), csv_strerror(CSV_ENOMEM)));
    if (++done == size) return;
  }
}

void CsvTokenizer::count_line_break(char terminator) {
  if (terminator == '\n' && last_was_cr_) {
    last_was_cr_ = false;  // the LF of a CRLF
    return;
  }
  ++line_;
  last_was_cr_ = terminator == '\r';
}

void CsvTokenizer::finish_parser() {
  parser_finished_ = true;
  if (bom_pending_) {
    bom_pending_ = false;
    if (bom_matched_ > 0) feed(kByteOrderMark.data(), bom_matched_, 0);
    if (failure_) return;
  }
  // A quote that never closes would otherwise swallow the rest of the file
  // into one field, losing its records without a word.
  if (csv_fini(parser_.get(), on_field, on_record, this) != 0) {
    fail(parse_error(field_ends_.size(), "quoted field not closed before end of file"));
  } else if (out_of_memory_) {
    fail(parse_error(field_ends_.size(), csv_strerror(CSV_ENOMEM)));
  }
}

Result<CsvTokenizer::Step> CsvTokenizer::complete_record() {
  if (auto error = check_record()) {
    fail(std::move(*error));
    return std::unexpected(*failure_);
  }
  if (!expected_fields_) expected_fields_ = field_ends_.size();
  ++records_;
  return Step::Record;
}

std::optional<FerolinError> CsvTokenizer::check_record() const {
  if (expected_fields_ && *expected_fields_ != field_ends_.size()) {
    return FerolinError::csv(
        "CSV error: record " + std::to_string(position_.record) +
        " (line: " + std::to_string(position_.line) + ", byte: " + std::to_string(position_.byte) +
        "): found record with " + std::to_string(field_ends_.size()) +
        " fields, but the previous record has " + std::to_string(*expected_fields_) + " fields");
  }
  if (is_ascii(field_bytes_)) return std::nullopt;
  for (std::size_t i = 0; i < field_ends_.size(); ++i) {
    if (const auto valid_up_to = utf8_error_offset(field(i))) {
      return parse_error(i, "invalid utf-8: invalid UTF-8 in field " + std::to_string(i) +
                                " near byte index " + std::to_string(*valid_up_to));
    }
  }
  return std::nullopt;
}

FerolinError CsvTokenizer::parse_error(std::size_t field, std::string_view reason) const {
  return FerolinError::csv(
      "CSV parse error: record " + std::to_string(position_.record) + " (line " +
      std::to_string(position_.line) + ", field: " + std::to_string(field) +
      ", byte: " + std::to_string(position_.byte) + "): " + std::string(reason));
}

void CsvTokenizer::fail(FerolinError error) { failure_ = std::move(error); }

// The callbacks only record what they see: libcsv is C and must not be
// unwound by an exception, so a failed allocation becomes a flag.
void CsvTokenizer::on_field(void* bytes, std::size_t size, void* self) {
  auto* tokenizer = static_cast<CsvTokenizer*>(self);
  try {
    tokenizer->field_bytes_.append(static_cast<const char*>(bytes), size);
    tokenizer->field_ends_.push_back(tokenizer->field_bytes_.size());
  } catch (const std::bad_alloc&) {
    tokenizer->out_of_memory_ = true;
  }
}

void CsvTokenizer::on_record(int /*terminator*/, void* self) {
  auto* tokenizer = static_cast<CsvTokenizer*>(self);
  tokenizer->record_ready_ = true;
  tokenizer->in_record_ = false;
}

}  // namespace ferolin::io
