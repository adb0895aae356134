// TextColumn: many short strings stored back to back in one buffer, for the
// per-query columns of tables with millions of queries (one allocation for
// all their bytes instead of one string each).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferolin {

class TextColumn {
 public:
  // Appends `text` as the last entry.
  void push_back(std::string_view text) {
    bytes_.append(text);
    ends_.push_back(bytes_.size());
  }

  // Returns entry `index`; valid until the column changes.
  [[nodiscard]] std::string_view operator[](std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(bytes_).substr(begin, ends_[index] - begin);
  }

  [[nodiscard]] std::size_t size() const { return ends_.size(); }
  [[nodiscard]] bool empty() const { return ends_.empty(); }

  // Reserves room for `entries` entries of `bytes` bytes in all.
  void reserve(std::size_t entries, std::size_t bytes) {
    ends_.reserve(entries);
    bytes_.reserve(bytes);
  }

 private:
  std::string bytes_;
  std::vector<std::size_t> ends_;
};

}  // namespace ferolin
