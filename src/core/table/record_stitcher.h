// RecordStitcher: the bytes the CSV tokenizer walks. While records end
// within the caller's chunk it hands out the chunk itself; a record cut by
// the end of a chunk is carried into a buffer of its own and completed there
// from pieces of the next chunks. It also skips a UTF-8 byte-order mark at
// the start of the input, however the chunks cut it. Whenever the bytes
// move, it moves the walker's cursor with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/table/growable_bytes.h"

namespace ferolin::table {

class RecordStitcher {
 public:
  // Where the walker stands in the bytes: the start of the record being
  // walked, the start of its field being walked, and the end of the bytes
  // scanned so far.
  struct Cursor {
    const char* record = nullptr;
    const char* field = nullptr;
    const char* scanned = nullptr;
  };

  // Hands over the next chunk of the input (valid until release_chunk()).
  // Returns true when reading starts in it at once: no record is being
  // carried and no byte-order mark may still be ahead.
  [[nodiscard]] bool supply(std::string_view chunk, Cursor& at);
  // Declares that no more bytes follow.
  void finish() { finished_ = true; }
  [[nodiscard]] bool finished() const { return finished_; }
  // Takes up the input at file offset `offset`, the input's byte before it
  // being `byte_before`: no byte-order mark is looked for.
  void resume(std::uint64_t offset, char byte_before);

  // Returns false while the bytes seen so far might still begin a
  // byte-order mark; true once the mark is skipped or known to be absent,
  // reading then starting after it.
  [[nodiscard]] bool settle_byte_order_mark(Cursor& at);
  [[nodiscard]] bool byte_order_mark_pending() const { return bom_pending_; }

  // The end of the bytes at hand.
  [[nodiscard]] const char* end() const { return end_; }
  // Returns true while a record is carried in the stitcher's own buffer.
  [[nodiscard]] bool carrying() const { return carrying_; }
  // Returns true when the carried record can grow from the current chunk.
  [[nodiscard]] bool chunk_left() const { return carrying_ && appended_ < chunk_.size(); }
  // Returns the file offset of `at`, a record start in the bytes at hand.
  [[nodiscard]] std::uint64_t file_offset(const char* at) const;
  // Returns the input's byte before `at`.
  [[nodiscard]] char byte_before(const char* at) const {
    return at != begin_ ? at[-1] : byte_before_begin_;
  }

  // Carries the unfinished record at at.record, scanned to the end of the
  // chunk, into the stitcher's buffer.
  void carry_record(Cursor& at);
  // Appends the next piece of the chunk to the carried record.
  void append_piece(Cursor& at);
  // Drops the carried bytes [from, to), which lie in the field being walked
  // and before at.scanned: the text of a field that is not kept.
  void drop(const char* from, const char* to, Cursor& at);
  // Called once the carried record has been handed out: reading goes on in
  // the chunk at the bytes that followed it.
  void leave_carry(Cursor& at);
  // Lets go of the chunk, which is used up; the caller may reuse its memory.
  void release_chunk();

 private:
  void read_chunk_from(std::size_t offset, Cursor& at);
  void start_carry(std::string_view bytes, std::uint64_t offset, Cursor& at, bool scanned);

  // The input: the last chunk, where it starts in the file, and (while a
  // record is carried) how many of its bytes are in carry_.
  std::string_view chunk_;
  std::uint64_t chunk_offset_ = 0;
  std::size_t appended_ = 0;
  char last_chunk_byte_ = 0;
  bool finished_ = false;
  bool bom_pending_ = true;
  std::size_t bom_matched_ = 0;           // bytes of the byte-order mark seen
  std::size_t bom_matched_in_chunk_ = 0;  // ... of which in chunk_

  // The bytes at hand: chunk_, or carry_ while a record is carried.
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
  std::uint64_t begin_offset_ = 0;  // file offset of begin_[0]
  char byte_before_begin_ = 0;
  bool carrying_ = false;
  GrowableBytes carry_;
  // Bytes dropped from the carried record, all at or after this offset in carry_.
  std::uint64_t dropped_ = 0;
  std::size_t first_drop_ = SIZE_MAX;
};

}  // namespace ferolin::table
