// QueryIdSet: the query ids seen so far across shards, to find an id that
// two shards share. Ids are stored back to back in one buffer and found
// through an open-addressing table of 32-bit positions under a keyed hash
// (crafted ids cannot make it slow): about 8 bytes a query beside the ids'
// own bytes and their 8-byte ends, where a node-based hash set takes 60.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/keyed_hash.h"
#include "core/text_column.h"

namespace ferolin::shards {

class QueryIdSet {
 public:
  // The most ids one set holds: positions are 32-bit, 0 marks a free slot.
  static constexpr std::uint64_t kMaxIds = 0xFFFFFFFEu;

  // Adds `id`. Returns the position of an equal id added before (nothing is
  // added then), nullopt for a new id, or InvalidArgument past kMaxIds.
  [[nodiscard]] Result<std::optional<std::uint64_t>> insert(std::string_view id);

  [[nodiscard]] std::size_t size() const { return ids_.size(); }

  // Makes room for `ids` more ids of `bytes` bytes in all, so that the set
  // does not grow (and hold its old and new storage at once) on the way.
  void reserve(std::uint64_t ids, std::uint64_t bytes);

 private:
  [[nodiscard]] std::size_t slot_of(std::string_view id) const;
  void grow(std::size_t slots);

  KeyedHash hash_;
  TextColumn ids_;
  std::vector<std::uint32_t> slots_;  // position + 1 of an id in ids_; 0: free
};

}  // namespace ferolin::shards
