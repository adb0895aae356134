// GrowableBytes: a byte buffer that grows with realloc, so that a large
// block can grow in place where the system allows, without holding the old
// and the new block at once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ferolin::table {

class GrowableBytes {
 public:
  GrowableBytes() = default;
  GrowableBytes(const GrowableBytes&) = delete;
  GrowableBytes& operator=(const GrowableBytes&) = delete;
  ~GrowableBytes() { std::free(bytes_); }

  [[nodiscard]] char* data() { return bytes_; }
  [[nodiscard]] const char* data() const { return bytes_; }
  [[nodiscard]] std::size_t size() const { return size_; }

  // Makes room for `more` bytes after size(); the bytes may move. Throws
  // std::bad_alloc when the memory is not there.
  void reserve_more(std::size_t more) {
    if (more <= capacity_ - size_) return;
    if (more > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    const std::size_t capacity = std::max(2 * capacity_, size_ + more);
    void* grown = std::realloc(bytes_, capacity);
    if (grown == nullptr) throw std::bad_alloc();
    bytes_ = static_cast<char*>(grown);
    capacity_ = capacity;
  }

  // Appends `size` bytes that reserve_more() has made room for.
  void append_reserved(const char* bytes, std::size_t size) {
    std::memcpy(bytes_ + size_, bytes, size);
    size_ += size;
  }

  // Counts `size` bytes written past size() into reserved room as data.
  void grow_into_reserved(std::size_t size) { size_ += size; }

  // Removes the bytes [from, to), moving those after them down.
  void erase(std::size_t from, std::size_t to) {
    std::memmove(bytes_ + from, bytes_ + to, size_ - to);
    size_ -= to - from;
  }

  void clear() { size_ = 0; }

 private:
  char* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace ferolin::table
