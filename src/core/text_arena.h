// TextArena: many short texts (query ids, candidate ids) stored back to back
// in blocks, each found again by the 8-byte reference that adding it
// returns. Blocks never move, so views of stored texts stay valid, and
// growing never copies what is stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace ferolin {

class TextArena {
 public:
  using Ref = std::uint64_t;

  // Stores `text` and returns its reference.
  Ref add(std::string_view text);

  // Returns the text stored under `ref`; valid as long as the arena.
  [[nodiscard]] std::string_view operator[](Ref ref) const {
    const char* at = blocks_[ref >> kOffsetBits].get() + (ref & kOffsetMask);
    std::size_t size = 0;
    int shift = 0;
    while (true) {
      const auto byte = static_cast<unsigned char>(*at++);
      size |= static_cast<std::size_t>(byte & 0x7f) << shift;
      if (byte < 0x80) return {at, size};
      shift += 7;
    }
  }

  // Forgets the text added last (its reference must not be used again), so
  // that the next add() reuses its room.
  void drop_last() { used_ = last_start_; }

  // Returns the bytes the arena's blocks take.
  [[nodiscard]] std::size_t allocated_bytes() const { return allocated_; }

 private:
  // Blocks of 64 KiB, so that an offset in a block takes 16 bits.
  static constexpr int kOffsetBits = 16;
  static constexpr std::size_t kBlockBytes = std::size_t{1} << kOffsetBits;
  static constexpr Ref kOffsetMask = kBlockBytes - 1;

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t capacity_ = 0;    // bytes of the last block
  std::size_t used_ = 0;        // bytes used in the last block
  std::size_t last_start_ = 0;  // where the text added last starts in it
  std::size_t allocated_ = 0;
};

}  // namespace ferolin
