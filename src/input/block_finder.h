// find_block_start: guesses where a deflate block starts inside a piece of a
// stream, so that the piece can be decoded before the bytes ahead of it.
// A guess is only a guess: whoever uses it checks that the decoding of the
// piece before ends exactly there.
#pragma once

#include <cstdint>
#include <optional>

namespace ferolin::tools {

// Returns the first bit in [from_bit, to_bit) of `data` (`size` bytes
// followed by 8 readable ones) where a non-final dynamic-Huffman block
// starts that decodes whole (or for 64 KiB of symbols) without a fault, or
// nothing.
[[nodiscard]] std::optional<std::uint64_t> find_block_start(const std::uint8_t* data,
                                                            std::size_t size,
                                                            std::uint64_t from_bit,
                                                            std::uint64_t to_bit);

}  // namespace ferolin::tools
