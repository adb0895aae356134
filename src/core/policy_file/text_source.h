// TextSource: the bytes of a file or of a memory buffer, consumed one at a
// time through an input iterator, with the line and column of the last byte
// consumed, so that errors found while parsing can say where they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>

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

  // Returns true when no byte is left, also after a failed read.
  [[nodiscard]] bool at_end() {
    if (next_ != limit_) return false;
    end_seen_ = !refill();
    return end_seen_;
  }
  // Returns the next byte without consuming it; only when !at_end().
  [[nodiscard]] char peek() const { return *next_; }
  // Consumes the next byte; only when !at_end().
  void advance() {
    previous_ = position_;
    if (*next_++ == '\n') {
      ++position_.line;
      position_.column = 0;
    } else {
      ++position_.column;
    }
    end_seen_ = false;
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

  std::optional<os::FileReader> reader_;
  // The unread bytes of the buffer or of the reader's current chunk.
  const char* next_ = nullptr;
  const char* limit_ = nullptr;
  bool finished_ = false;
  bool end_seen_ = false;
  std::optional<std::string> read_error_;
  TextPosition position_;
  TextPosition previous_;
};

}  // namespace ferolin::policy_file
