// Feeding fuzz input to a reader in chunks of a fixed size, each copied into
// a block of its own that is freed at the next read, so that
// AddressSanitizer catches a reader that keeps a view of a chunk longer than
// it may.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string_view>

#include "core/table/table_records.h"

namespace ferolin::fuzz {

// Returns a chunk reader over `bytes`, `chunk_size` bytes at a time.
inline table::TableRecords::ChunkReader chunks_of(std::string_view bytes,
                                                  std::size_t chunk_size) {
  return [bytes, chunk_size, offset = std::size_t{0},
          block = std::unique_ptr<char[]>()]() mutable -> Result<std::string_view> {
    const std::size_t size = std::min(chunk_size, bytes.size() - offset);
    block = std::make_unique<char[]>(size + 1);
    std::copy_n(bytes.data() + offset, size, block.get());
    offset += size;
    return std::string_view(block.get(), size);
  };
}

}  // namespace ferolin::fuzz
