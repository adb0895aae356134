// DeflateBits: reads a deflate stream's bits least significant first (RFC
// 1951, 3.1.1) from any bit offset of a buffer, as the speculative decoder
// needs to start inside a byte. The buffer must be followed by at least 8
// readable bytes (PaddedBytes gives them), so that a peek near its end
// loads whole words; reading past the end is reported by overran().
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace ferolin::tools {

// Bytes followed by kPadding zero bytes.
struct PaddedBytes {
  static constexpr std::size_t kPadding = 8;
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size = 0;

  // Returns a zeroed buffer of `size` bytes plus the padding.
  static PaddedBytes of_size(std::size_t size) {
    return {std::make_unique<std::uint8_t[]>(size + kPadding), size};
  }
};

class DeflateBits {
 public:
  DeflateBits(const std::uint8_t* data, std::size_t size, std::uint64_t bit)
      : data_(data), size_bits_(std::uint64_t{size} * 8), bit_(bit) {}

  // Returns the next `count` bits (up to 56) without taking them; bits past
  // the end read as 0.
  [[nodiscard]] std::uint64_t peek(unsigned count) const {
    const std::uint64_t byte = bit_ >> 3;
    if (byte >= size_bits_ / 8) return 0;
    std::uint64_t word;
    std::memcpy(&word, data_ + byte, sizeof word);
    return (word >> (bit_ & 7)) & ((std::uint64_t{1} << count) - 1);
  }
  void skip(unsigned count) { bit_ += count; }
  [[nodiscard]] std::uint64_t take(unsigned count) {
    const std::uint64_t bits = peek(count);
    bit_ += count;
    return bits;
  }
  void align_to_byte() { bit_ = (bit_ + 7) & ~std::uint64_t{7}; }

  [[nodiscard]] std::uint64_t position() const { return bit_; }
  [[nodiscard]] bool overran() const { return bit_ > size_bits_; }
  [[nodiscard]] const std::uint8_t* data() const { return data_; }

 private:
  const std::uint8_t* data_;
  std::uint64_t size_bits_;
  std::uint64_t bit_;
};

}  // namespace ferolin::tools
