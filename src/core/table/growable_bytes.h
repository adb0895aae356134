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

  // Makes room for `more` bytes after size(). Returns the address the bytes
  // had when they moved (views of them must follow), 0 when they did not.
  // Throws std::bad_alloc when the memory is not there.
  std::uintptr_t reserve_more(std::size_t more) {
    if (more <= capacity_ - size_) return 0;
    if (more > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    const std::size_t capacity = std::max(2 * capacity_, size_ + more);
    const auto old_address = reinterpret_cast<std::uintptr_t>(bytes_);
    void* grown = std::realloc(bytes_, capacity);
    if (grown == nullptr) throw std::bad_alloc();
    bytes_ = static_cast<char*>(grown);
    capacity_ = capacity;
    return reinterpret_cast<std::uintptr_t>(grown) != old_address ? old_address : 0;
  }

  // Appends `size` bytes that reserve_more() has made room for.
  void append_reserved(const char* bytes, std::size_t size) {
    std::memcpy(bytes_ + size_, bytes, size);
    size_ += size;
  }

  // Counts `size` bytes written past size() into reserved room as data.
  void grow_into_reserved(std::size_t size) { size_ += size; }

  void clear() { size_ = 0; }

 private:
  char* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace ferolin::table
