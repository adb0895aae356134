#include "core/policy_file/text_source.h"

#include <utility>

namespace ferolin::policy_file {
namespace {

// Where the parser's number grammar stands after each byte of a number:
// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
enum class NumberState {
  Start,
  Minus,
  Zero,
  Integer,
  Point,
  Fraction,
  Exponent,
  ExponentSign,
  ExponentDigits,
  Ended,  // the byte is not part of the number
};

bool is_digit(char byte) { return byte >= '0' && byte <= '9'; }

// Returns true for the bytes of literals and numbers.
bool in_token(char byte) {
  return is_digit(byte) || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
         byte == '.' || byte == '+' || byte == '-';
}

NumberState next_state(NumberState state, char byte) {
  using enum NumberState;
  const bool digit = is_digit(byte);
  const bool exponent = byte == 'e' || byte == 'E';
  switch (state) {
    case Start:
      if (byte == '-') return Minus;
      [[fallthrough]];
    case Minus:
      if (byte == '0') return Zero;
      return digit ? Integer : Ended;
    case Zero:
    case Integer:
      if (digit && state == Integer) return Integer;
      if (byte == '.') return Point;
      return exponent ? Exponent : Ended;
    case Point:
    case Fraction:
      if (digit) return Fraction;
      return exponent && state == Fraction ? Exponent : Ended;
    case Exponent:
      if (byte == '+' || byte == '-') return ExponentSign;
      [[fallthrough]];
    case ExponentSign:
    case ExponentDigits:
      return digit ? ExponentDigits : Ended;
    case Ended:
      break;
  }
  return Ended;
}

// Returns the shortest text that leaves the number grammar in `state`, so
// that the parser reads the byte after it as it would after the original:
// a whole number ends it, a byte that cut the number short fails the same
// way. The value of a whole stand-in is 0 or 1, never out of range.
std::string_view stand_in(NumberState state) {
  switch (state) {
    case NumberState::Minus:
      return "-";
    case NumberState::Zero:
      return "0";
    case NumberState::Point:
      return "0.";
    case NumberState::Fraction:
      return "0.0";
    case NumberState::Exponent:
      return "0e";
    case NumberState::ExponentSign:
      return "0e+";
    case NumberState::ExponentDigits:
      return "0e0";
    case NumberState::Start:  // never: a number has at least one byte
    case NumberState::Integer:
    case NumberState::Ended:
      break;
  }
  return "1";
}

}  // namespace

TextSource::TextSource(std::span<const char> bytes)
    : next_(bytes.data()), limit_(bytes.data() + bytes.size()), finished_(true) {}

TextSource::TextSource(os::FileReader reader) : reader_(std::move(reader)) {}

bool TextSource::refill() {
  // After the end or an error, reading again could block on a terminal or
  // pipe, or hide the error.
  if (finished_) return false;
  Result<std::string_view> chunk = reader_->read();
  if (chunk && !chunk->empty()) {
    next_ = chunk->data();
    limit_ = next_ + chunk->size();
    return true;
  }
  if (!chunk) read_error_ = std::move(chunk.error().detail);
  finished_ = true;
  return false;
}

// A digit or '-' right after a byte of a literal or number belongs to the
// token that the parser is already reading, and is left alone. The bytes of
// a skipped number are consumed here, as the parser would consume them, so
// that the positions after the stand-in are theirs; until then the positions
// stay where they were: no event comes between the bytes of one token, so
// nobody asks for a position in between.
void TextSource::stand_in_for_skipped_number() {
  const char first = *next_;
  if (!(first == '-' || is_digit(first)) || in_token(last_) || !skipping_()) return;
  const TextPosition position = position_;
  const TextPosition previous = previous_;
  NumberState state = NumberState::Start;
  while (next_ != limit_ || refill()) {
    const NumberState next = next_state(state, *next_);
    if (next == NumberState::Ended) break;
    state = next;
    advance();
  }
  stand_in_ = stand_in(state);
  stand_in_position_ = position_;
  stand_in_previous_ = previous_;
  position_ = position;
  previous_ = previous;
}

void TextSource::consume_stand_in() {
  last_ = stand_in_.front();
  stand_in_.remove_prefix(1);
  if (stand_in_.empty()) {
    position_ = stand_in_position_;
    previous_ = stand_in_previous_;
  }
}

}  // namespace ferolin::policy_file
