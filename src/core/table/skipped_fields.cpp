#include "core/table/skipped_fields.h"

#include <algorithm>

#include "core/utf8.h"

namespace ferolin::table {
namespace {

// Returns the number of bytes of the UTF-8 character that `lead` starts
// (1 for a byte that starts none).
std::size_t character_size(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

// Returns `end`, or the start of a character that begins before it and
// would end after it.
const char* before_cut_character(const char* from, const char* end) {
  const auto size = static_cast<std::size_t>(end - from);
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(*(end - back));
    if ((byte & 0xC0) != 0x80) return character_size(byte) > back ? end - back : end;
  }
  return end;
}

std::size_t quotes_in(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '"'));
}

}  // namespace

SkippedFields::Cut SkippedFields::cut(std::size_t field, const char* begin,
                                      const char* end) const {
  const bool quoted = *begin == '"';
  const bool first = find(field) == nullptr;
  Cut cut;
  const std::size_t head =
      quoted ? 1
             : std::min(character_size(static_cast<unsigned char>(*begin)),
                        static_cast<std::size_t>(end - begin));
  cut.from = begin + head;
  // The first cut checks the field's text from its start, its first
  // character included; later ones check what they drop.
  cut.checked = first ? begin + (quoted ? 1 : 0) : cut.from;
  const char* to = before_cut_character(cut.from, end);
  if (quoted) {
    // A line feed after the cut must still find its CR before it.
    if (to > cut.from && to[-1] == '\r') --to;
    // Doubled quotes come in pairs from the text's start: an odd run at the
    // end has the second quote of its last pair still to come.
    const auto size = static_cast<std::size_t>(to - cut.from);
    std::size_t run = 0;
    while (run < size && *(to - run - 1) == '"') ++run;
    to -= run % 2;
  }
  cut.to = to;
  return cut;
}

void SkippedFields::drop(std::size_t field, const char* begin, const Cut& cut) {
  const bool quoted = *begin == '"';
  const bool first = find(field) == nullptr;
  if (first) {
    dropped_.push_back({field, quoted ? 0 : static_cast<std::size_t>(cut.from - begin), 0, {}});
  }
  Dropped& d = dropped_.back();
  const std::string_view checked(cut.checked, static_cast<std::size_t>(cut.to - cut.checked));
  if (!d.invalid) {
    if (const auto valid = utf8_error_offset(checked)) {
      // Each doubled quote before the invalid byte is one byte of text.
      const std::size_t quotes = quoted ? quotes_in(checked.substr(0, *valid)) : 0;
      d.invalid = (first ? 0 : d.head_text + d.text) + *valid - quotes / 2;
      dropped_invalid_ = true;
    }
  }
  const std::string_view gone(cut.from, static_cast<std::size_t>(cut.to - cut.from));
  d.text += gone.size() - (quoted ? quotes_in(gone) / 2 : 0);
}

std::optional<std::size_t> SkippedFields::invalid_text_at(std::size_t field,
                                                          std::string_view rest) const {
  const Dropped* d = find(field);
  // Dropped bytes come before what stays of the field, but for the first
  // character of an unquoted field, which the first cut checked.
  if (d != nullptr && d->invalid) return *d->invalid;
  const auto valid = utf8_error_offset(rest);
  if (!valid) return std::nullopt;
  return d != nullptr ? *valid + d->text : *valid;
}

const SkippedFields::Dropped* SkippedFields::find(std::size_t field) const {
  for (const Dropped& d : dropped_) {
    if (d.field == field) return &d;
  }
  return nullptr;
}

}  // namespace ferolin::table
