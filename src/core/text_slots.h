// TextSlots: one optional text per index that may be replaced as a table is
// read (a query's top candidate id changes when a better-ranked row comes).
// A replaced text stays behind as garbage until the garbage outweighs the
// live texts; then the live texts move to a fresh arena. So memory stays
// within about twice the live texts whatever the order of the rows.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "core/chunked_vector.h"
#include "core/text_arena.h"

namespace ferolin {

class TextSlots {
 public:
  // Appends a slot holding `text` (absent: no text).
  void push_back(std::optional<std::string_view> text) { refs_.push_back(store(text)); }

  // Replaces the text of slot `index`.
  void assign(std::size_t index, std::optional<std::string_view> text);

  // Returns the text of slot `index`; valid until the next change.
  [[nodiscard]] std::optional<std::string_view> operator[](std::size_t index) const {
    const TextArena::Ref ref = refs_[index];
    if (ref == kAbsent) return std::nullopt;
    return arena_[ref];
  }

  [[nodiscard]] std::size_t size() const { return refs_.size(); }

 private:
  static constexpr TextArena::Ref kAbsent = ~TextArena::Ref{0};

  TextArena::Ref store(std::optional<std::string_view> text);
  void compact();

  TextArena arena_;
  ChunkedVector<TextArena::Ref> refs_;
  TextArena::Ref last_added_ = kAbsent;
  std::size_t live_bytes_ = 0;
  std::size_t garbage_bytes_ = 0;
};

}  // namespace ferolin
