#include "core/table/id_lookahead.h"

#include <cstring>

namespace ferolin::table {
namespace {

std::uintptr_t address(const char* p) { return reinterpret_cast<std::uintptr_t>(p); }

// Returns the first `byte` in [begin, end), or `end`.
const char* find(const char* begin, const char* end, char byte) {
  const void* const found = std::memchr(begin, byte, static_cast<std::size_t>(end - begin));
  return found != nullptr ? static_cast<const char*>(found) : end;
}

}  // namespace

std::string_view IdLookahead::next(std::string_view ahead, std::uint64_t record) {
  const char* const end = ahead.data() + ahead.size();
  // The cursor holds while the bytes at hand are the same ones read
  // further, and it is still ahead of the record. A new chunk (which may
  // reuse the memory of the last from its start) or a record stitched from
  // two chunks starts it again from the record.
  const std::uintptr_t begin = address(ahead.data());
  if (begin < begin_ || address(cursor_) < begin || address(cursor_) > address(end) ||
      cursor_record_ <= record) {
    cursor_ = ahead.data();
    cursor_record_ = record + 1;
  }
  begin_ = begin;
  while (cursor_record_ < record + kDistance) {
    if (!skip_line(end)) return {};
    ++cursor_record_;
  }
  const std::string_view id = id_at(end);
  if (id == last_id_) return {};
  last_id_.assign(id);
  return id;
}

bool IdLookahead::skip_line(const char* end) {
  const char* const line_end = find(cursor_, end, '\n');
  if (line_end == end) return false;
  cursor_ = line_end + 1;
  return true;
}

std::string_view IdLookahead::id_at(const char* end) const {
  const char* begin = cursor_;
  for (std::size_t skipped = 0; skipped < field_; ++skipped) {
    const char* const separator = find(begin, end, separator_);
    if (separator == end) return {};
    begin = separator + 1;
  }
  // The last field of a line runs to the line end, not the next separator.
  const char* stop = find(begin, end, separator_);
  stop = find(begin, stop, '\n');
  if (stop != begin && stop[-1] == '\r') --stop;
  return {begin, static_cast<std::size_t>(stop - begin)};
}

}  // namespace ferolin::table
