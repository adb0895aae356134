// ZeroedWords: an array of 64-bit words, zeroed, taken straight from the
// kernel, for a large table that is read at random (the query index's
// slots). An array of 2 MiB or more is aligned to 2 MiB and the kernel is
// asked to back it with huge pages, so that a random read costs one cache
// miss and not a walk of the page tables as well (32 MiB of 4 KiB pages is
// more than the processor's TLB holds). The kernel zeroes a page when it is
// first touched: nothing is written up front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace ferolin::os {

class ZeroedWords {
 public:
  ZeroedWords() = default;
  // Maps `count` zeroed words; throws std::bad_alloc when the kernel
  // refuses, as an allocation would.
  explicit ZeroedWords(std::size_t count);
  ZeroedWords(ZeroedWords&& other) noexcept
      : words_(std::exchange(other.words_, nullptr)), count_(std::exchange(other.count_, 0)) {}
  ZeroedWords& operator=(ZeroedWords&& other) noexcept {
    ZeroedWords old(std::move(*this));
    words_ = std::exchange(other.words_, nullptr);
    count_ = std::exchange(other.count_, 0);
    return *this;
  }
  ZeroedWords(const ZeroedWords&) = delete;
  ZeroedWords& operator=(const ZeroedWords&) = delete;
  ~ZeroedWords();

  [[nodiscard]] std::size_t size() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }
  [[nodiscard]] std::uint64_t& operator[](std::size_t i) { return words_[i]; }
  [[nodiscard]] const std::uint64_t& operator[](std::size_t i) const { return words_[i]; }
  [[nodiscard]] const std::uint64_t* begin() const { return words_; }
  [[nodiscard]] const std::uint64_t* end() const { return words_ + count_; }

 private:
  std::uint64_t* words_ = nullptr;
  std::size_t count_ = 0;
};

}  // namespace ferolin::os
