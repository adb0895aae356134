// GrowableBytes: a byte buffer that grows with realloc, so that a large
// block can grow in place where the system allows, without holding the old
// and the new block at once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace ferolin::table {

class GrowableBytes {
 public:
  [[nodiscard]] char* data() { return bytes_.get(); }
  [[nodiscard]] const char* data() const { return bytes_.get(); }
  [[nodiscard]] std::size_t size() const { return size_; }

  // Makes room for `more` bytes after size(); the bytes may move. Throws
  // std::bad_alloc when the memory is not there.
  void reserve_more(std::size_t more) {
    if (more <= capacity_ - size_) return;
    if (more > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    const std::size_t capacity = std::max(2 * capacity_, size_ + more);
    void* grown = std::realloc(bytes_.get(), capacity);
    if (grown == nullptr) throw std::bad_alloc();
    static_cast<void>(bytes_.release());
    bytes_.reset(static_cast<char*>(grown));
    capacity_ = capacity;
  }

  // Appends `size` bytes that reserve_more() has made room for.
  void append_reserved(const char* bytes, std::size_t size) {
    std::memcpy(bytes_.get() + size_, bytes, size);
    size_ += size;
  }

  // Counts `size` bytes written past size() into reserved room as data.
  void grow_into_reserved(std::size_t size) { size_ += size; }

  void clear() { size_ = 0; }

 private:
  struct Free {
    void operator()(char* bytes) const { std::free(bytes); }
  };
  std::unique_ptr<char, Free> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace ferolin::table
