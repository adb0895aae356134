// SkippedFields: the fields of each record that a read does not keep. Their
// text has no length limit, and a record carried from chunk to chunk does
// not hold it: the tokenizer drops it from the carried bytes as it walks it.
// This decides which bytes can go without changing what the rest of the
// walk sees, checks their UTF-8 before they go, and counts them, so that a
// record's UTF-8 failure names the byte index its whole field would give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ferolin::table {

class SkippedFields {
 public:
  // Keeps only the fields whose position is true in `kept`; the others,
  // positions past its end included, are skipped. Every field is kept
  // until this is called.
  void keep_only(std::vector<bool> kept) {
    kept_ = std::move(kept);
    selective_ = true;
  }
  [[nodiscard]] bool any() const { return selective_; }
  [[nodiscard]] bool skipped(std::size_t field) const {
    return selective_ && (field >= kept_.size() || !kept_[field]);
  }

  // Bytes that can be dropped from a skipped field, and the bytes before
  // them that are checked with them.
  struct Cut {
    const char* checked = nullptr;  // the first byte checked
    const char* from = nullptr;     // the first byte dropped
    const char* to = nullptr;       // after the last byte dropped
  };
  // Returns the bytes of skipped field `field`, which starts at `begin` and
  // is read up to `end`, that can be dropped (none when to <= from). What
  // stays: the field's first byte (its opening quote, or its first
  // character), which tells the walker how the field ends; a character
  // whose bytes are not all read yet; a CR that an LF may follow; the first
  // quote of a doubled quote whose second is not read yet.
  [[nodiscard]] Cut cut(std::size_t field, const char* begin, const char* end) const;
  // Records that `cut` of skipped field `field`, which starts at `begin`,
  // is dropped: checks its UTF-8 and counts its text.
  void drop(std::size_t field, const char* begin, const Cut& cut);

  // Returns the byte index of the first invalid UTF-8 in the text of field
  // `field` of the record, `rest` being the text that stays of it, or
  // nothing when it is valid.
  [[nodiscard]] std::optional<std::size_t> invalid_text_at(std::size_t field,
                                                           std::string_view rest) const;
  // Returns true when a field of the record has had bytes dropped.
  [[nodiscard]] bool any_dropped() const { return !dropped_.empty(); }
  // Returns true when dropped bytes held invalid UTF-8.
  [[nodiscard]] bool dropped_invalid() const { return dropped_invalid_; }
  // Calls `blank(field)` for every field that has had bytes dropped: what
  // stays of them is not their text.
  template <typename Blank>
  void for_each_dropped(Blank blank) const {
    for (const Dropped& d : dropped_) blank(d.field);
  }
  // Forgets the dropped fields, for the next record.
  void next_record() {
    dropped_.clear();
    dropped_invalid_ = false;
  }

 private:
  // A field that has had bytes dropped.
  struct Dropped {
    std::size_t field = 0;
    std::size_t head_text = 0;              // text bytes kept before the dropped ones
    std::uint64_t text = 0;                 // text bytes dropped
    std::optional<std::uint64_t> invalid;  // index of the first invalid byte in the text
  };
  [[nodiscard]] const Dropped* find(std::size_t field) const;

  std::vector<bool> kept_;
  bool selective_ = false;
  std::vector<Dropped> dropped_;
  bool dropped_invalid_ = false;
};

}  // namespace ferolin::table
