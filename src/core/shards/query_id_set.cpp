#include "core/shards/query_id_set.h"

#include <algorithm>
#include <string>

namespace ferolin::shards {

// Linear probing from the hash's slot: returns the slot holding `id`, or the
// free slot where it belongs. The table is a power of two, at most 3/4 full.
std::size_t QueryIdSet::slot_of(std::string_view id) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hash_(id) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t held = slots_[slot];
    if (held == 0 || ids_[held - 1] == id) return slot;
  }
}

void QueryIdSet::grow(std::size_t slots) {
  std::vector<std::uint32_t> old = std::move(slots_);
  slots_.assign(slots, 0);
  for (const std::uint32_t held : old) {
    if (held != 0) slots_[slot_of(ids_[held - 1])] = held;
  }
}

void QueryIdSet::reserve(std::uint64_t ids, std::uint64_t bytes) {
  const std::uint64_t total = ids_.size() + std::min<std::uint64_t>(ids, kMaxIds);
  ids_.reserve(total, bytes);
  std::size_t slots = std::max<std::size_t>(slots_.size(), 1024);
  while (total * 4 > slots * 3) slots *= 2;
  if (slots != slots_.size()) grow(slots);
}

Result<std::optional<std::uint64_t>> QueryIdSet::insert(std::string_view id) {
  if ((ids_.size() + 1) * 4 > slots_.size() * 3) grow(slots_.empty() ? 1024 : slots_.size() * 2);
  const std::size_t slot = slot_of(id);
  if (slots_[slot] != 0) return std::optional<std::uint64_t>(slots_[slot] - 1);
  if (ids_.size() >= kMaxIds) {
    return std::unexpected(FerolinError::invalid_argument("more than " + std::to_string(kMaxIds) +
                                                          " queries in one merge"));
  }
  ids_.push_back(id);
  slots_[slot] = static_cast<std::uint32_t>(ids_.size());
  return std::nullopt;
}

}  // namespace ferolin::shards
