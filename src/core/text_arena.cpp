#include "core/text_arena.h"

#include <cstring>

namespace ferolin {

TextArena::Ref TextArena::add(std::string_view text) {
  // The size goes first, 7 bits a byte, low bits first.
  unsigned char header[10];
  std::size_t header_size = 0;
  for (std::size_t size = text.size();; size >>= 7) {
    header[header_size++] = static_cast<unsigned char>((size & 0x7f) | (size > 0x7f ? 0x80 : 0));
    if (size <= 0x7f) [[likely]]
      break;
  }
  const std::size_t needed = header_size + text.size();
  if (needed > capacity_ - used_) {
    // A text too large for a block gets a block of its own size.
    capacity_ = needed > kBlockBytes ? needed : kBlockBytes;
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(capacity_));
    allocated_ += capacity_;
    used_ = 0;
  }
  char* at = blocks_.back().get() + used_;
  std::memcpy(at, header, header_size);
  if (!text.empty()) std::memcpy(at + header_size, text.data(), text.size());
  last_start_ = used_;
  const Ref ref = (static_cast<Ref>(blocks_.size() - 1) << kOffsetBits) | used_;
  used_ += needed;
  return ref;
}

}  // namespace ferolin
