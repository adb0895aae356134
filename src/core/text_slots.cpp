#include "core/text_slots.h"

#include <utility>

namespace ferolin {
namespace {

// Garbage below this is never worth a rewrite.
constexpr std::size_t kGarbageAllowance = std::size_t{1} << 20;

}  // namespace

TextArena::Ref TextSlots::store(std::optional<std::string_view> text) {
  if (!text) return kAbsent;
  live_bytes_ += text->size();
  last_added_ = arena_.add(*text);
  return last_added_;
}

void TextSlots::assign(std::size_t index, std::optional<std::string_view> text) {
  const TextArena::Ref old = refs_[index];
  if (old != kAbsent) {
    live_bytes_ -= arena_[old].size();
    // The text added last is simply overwritten: with the rows of a query
    // together, that is every replacement.
    if (old == last_added_) {
      arena_.drop_last();
      last_added_ = kAbsent;
    } else {
      garbage_bytes_ += arena_[old].size();
    }
  }
  refs_[index] = store(text);
  if (garbage_bytes_ > live_bytes_ + kGarbageAllowance) compact();
}

void TextSlots::compact() {
  TextArena fresh;
  for (std::size_t i = 0; i < refs_.size(); ++i) {
    if (refs_[i] != kAbsent) refs_[i] = fresh.add(arena_[refs_[i]]);
  }
  arena_ = std::move(fresh);
  last_added_ = kAbsent;
  garbage_bytes_ = 0;
}

}  // namespace ferolin
