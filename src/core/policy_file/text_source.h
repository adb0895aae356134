// TextSource: the bytes of a file or of a memory buffer, consumed one at a
// time through an input iterator, with the line and column of the last byte
// consumed, so that errors found while parsing can say where they are.
//
// Two things the JSON parser would accept are kept from it. It skips a
// byte-order mark before the first value; a policy file is JSON text alone,
// so the source hands it a space first, which it skips instead, and a mark
// then fails like any other stray byte. And it converts every number, failing
// on one out of range; a number in a value that the policy reader skips is
// handed to it as a short stand-in such as "0", so that such a value may hold
// a number of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "core/os/file_reader.h"

namespace ferolin::policy_file {

// A 1-based line and the number of bytes consumed on it so far: the column
// of the last byte consumed, 0 right after a newline.
struct TextPosition {
  std::uint64_t line = 1;
  std::uint64_t column = 0;
};

class TextSource {
 public:
  // Reads the bytes of `bytes`, which must outlive the source.
  explicit TextSource(std::span<const char> bytes);
  // Reads the file of `reader` to its end; the file is closed with the source.
  explicit TextSource(os::FileReader reader);

  TextSource(const TextSource&) = delete;
  TextSource& operator=(const TextSource&) = delete;

  // From now on, a number that starts while `skipping()` answers true is
  // handed out as a stand-in of at most three bytes that the parser reads
  // the same way but never converts to a value out of range; the positions
  // after it are those of the number's own bytes.
  void stand_in_for_numbers_while(std::function<bool()> skipping) {
    skipping_ = std::move(skipping);
  }

  // Returns true when no byte is left, also after a failed read.
  [[nodiscard]] bool at_end() {
    if (!stand_in_.empty()) return false;
    if (next_ == limit_) {
      end_seen_ = !refill();
      if (end_seen_) return true;
    }
    if (!in_string_ && skipping_) stand_in_for_skipped_number();
    return false;
  }
  // Returns the next byte without consuming it; only when !at_end().
  [[nodiscard]] char peek() const { return stand_in_.empty() ? *next_ : stand_in_.front(); }
  // Consumes the next byte; only when !at_end().
  void advance() {
    previous_ = position_;
    end_seen_ = false;
    if (!stand_in_.empty()) {
      consume_stand_in();
      return;
    }
    const char byte = *next_++;
    follow_strings(byte);
    if (byte == '\n') {
      ++position_.line;
      position_.column = 0;
    } else {
      ++position_.column;
    }
  }

  // Returns the position of the last byte consumed.
  [[nodiscard]] TextPosition position() const { return position_; }
  // Returns the position before the last byte was consumed.
  [[nodiscard]] TextPosition previous_position() const { return previous_; }
  // Returns true when at_end() has answered true since the last advance().
  [[nodiscard]] bool end_seen() const { return end_seen_; }
  // Returns the system's text of a failed read, if one failed.
  [[nodiscard]] const std::optional<std::string>& read_error() const { return read_error_; }

  // An input iterator over the remaining bytes. Copies share the source, so
  // what a parser consumes through its copy is consumed for everyone.
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    Iterator() = default;
    explicit Iterator(TextSource* source) : source_(source) {}

    char operator*() const { return source_->peek(); }
    Iterator& operator++() {
      source_->advance();
      return *this;
    }
    void operator++(int) { source_->advance(); }
    // Returns true when both are at the end; the past-the-end iterator has
    // no source.
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.done() == b.done(); }

   private:
    [[nodiscard]] bool done() const { return source_ == nullptr || source_->at_end(); }
    TextSource* source_ = nullptr;
  };

  // Returns an iterator at the next byte.
  [[nodiscard]] Iterator begin() { return Iterator(this); }
  // Returns the past-the-end iterator.
  [[nodiscard]] static Iterator end() { return Iterator(); }

 private:
  // Reads the next chunk of the file; returns false at the end of the file
  // or on a failed read.
  bool refill();

  // Keeps track of whether the next byte stands inside a JSON string.
  void follow_strings(char byte) {
    if (!in_string_) {
      in_string_ = byte == '"';
    } else if (escaped_) {
      escaped_ = false;
    } else if (byte == '\\') {
      escaped_ = true;
    } else {
      in_string_ = byte != '"';
    }
    last_ = byte;
  }

  // When the next byte starts a number that the parser reads while the
  // reader skips values, consumes the number and puts its stand-in in its
  // place.
  void stand_in_for_skipped_number();
  void consume_stand_in();

  std::optional<os::FileReader> reader_;
  // The unread bytes of the buffer or of the reader's current chunk.
  const char* next_ = nullptr;
  const char* limit_ = nullptr;
  bool finished_ = false;
  bool end_seen_ = false;
  std::optional<std::string> read_error_;
  TextPosition position_;
  TextPosition previous_;

  // Bytes handed out before the next byte of the text; the positions once
  // the last of them is consumed are those of the bytes they stand for.
  std::string_view stand_in_ = " ";
  TextPosition stand_in_position_;
  TextPosition stand_in_previous_;

  std::function<bool()> skipping_;
  bool in_string_ = false;
  bool escaped_ = false;
  char last_ = ' ';
};

}  // namespace ferolin::policy_file
