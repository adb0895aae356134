// ChunkedVector: a vector of plain values kept in fixed blocks, for the
// per-query columns of tables with millions of queries. Growing adds a
// block instead of copying everything into one twice as large, so memory
// never holds an old and a new copy at once, and no element ever moves.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

namespace ferolin {

template <typename T>
class ChunkedVector {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  // Elements per block: a power of two, so that indexing is a shift and a mask.
  static constexpr std::size_t kBlockShift = 12;
  static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockShift;

  // Appends `value` as the last element.
  void push_back(const T& value) {
    if ((size_ & (kBlockSize - 1)) == 0 && size_ >> kBlockShift == blocks_.size()) {
      blocks_.push_back(std::make_unique_for_overwrite<T[]>(kBlockSize));
    }
    (*this)[size_++] = value;
  }

  [[nodiscard]] T& operator[](std::size_t index) {
    return blocks_[index >> kBlockShift][index & (kBlockSize - 1)];
  }
  [[nodiscard]] const T& operator[](std::size_t index) const {
    return blocks_[index >> kBlockShift][index & (kBlockSize - 1)];
  }

  [[nodiscard]] std::size_t size() const { return size_; }

  // Returns the bytes the blocks take.
  [[nodiscard]] std::size_t allocated_bytes() const {
    return blocks_.size() * kBlockSize * sizeof(T);
  }

 private:
  std::vector<std::unique_ptr<T[]>> blocks_;
  std::size_t size_ = 0;
};

}  // namespace ferolin
