#include "core/table/record_stitcher.h"

#include <algorithm>

namespace ferolin::table {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// A carried record is completed from pieces of the next chunk: the first of
// this size (most records end well within it), later ones as large as what
// is carried so far, so that a huge record costs few copies.
constexpr std::size_t kFirstPiece = 4096;

}  // namespace

bool RecordStitcher::supply(std::string_view chunk, Cursor& at) {
  chunk_ = chunk;
  // While carrying, the chunk is taken in pieces by append_piece().
  if (bom_pending_ || carrying_) return false;
  read_chunk_from(0, at);
  return true;
}

void RecordStitcher::resume(std::uint64_t offset, char byte_before) {
  bom_pending_ = false;  // a byte-order mark stands only at the start of a file
  chunk_offset_ = offset;
  last_chunk_byte_ = byte_before;
}

// A mark is skipped (its bytes still count in the offsets); bytes that began
// like one but are not are data.
bool RecordStitcher::settle_byte_order_mark(Cursor& at) {
  const std::size_t earlier = bom_matched_ - bom_matched_in_chunk_;
  while (bom_matched_ < kByteOrderMark.size() && bom_matched_in_chunk_ < chunk_.size() &&
         chunk_[bom_matched_in_chunk_] == kByteOrderMark[bom_matched_]) {
    ++bom_matched_;
    ++bom_matched_in_chunk_;
  }
  const bool mismatch = bom_matched_in_chunk_ < chunk_.size();
  if (bom_matched_ < kByteOrderMark.size() && !mismatch && !finished_) return false;
  bom_pending_ = false;
  if (bom_matched_ == kByteOrderMark.size()) {
    read_chunk_from(bom_matched_in_chunk_, at);
  } else if (mismatch && earlier == 0) {
    read_chunk_from(0, at);
  } else if (mismatch) {
    // Bytes of earlier chunks are data: the current record starts with them.
    start_carry(kByteOrderMark.substr(0, earlier), 0, at, false);
  } else if (bom_matched_ > 0) {
    // The input ends within what could have been a mark.
    appended_ = chunk_.size();
    start_carry(kByteOrderMark.substr(0, bom_matched_), 0, at, false);
  } else {
    read_chunk_from(0, at);
  }
  return true;
}

std::uint64_t RecordStitcher::file_offset(const char* at) const {
  const auto offset = static_cast<std::size_t>(at - begin_);
  return begin_offset_ + offset + (offset >= first_drop_ ? dropped_ : 0);
}

void RecordStitcher::carry_record(Cursor& at) {
  start_carry({at.record, static_cast<std::size_t>(end_ - at.record)}, file_offset(at.record), at,
              true);
}

void RecordStitcher::append_piece(Cursor& at) {
  const std::size_t piece =
      std::min(chunk_.size() - appended_, std::max(kFirstPiece, carry_.size()));
  const auto record = static_cast<std::size_t>(at.record - begin_);
  const auto field = static_cast<std::size_t>(at.field - begin_);
  const auto scanned = static_cast<std::size_t>(at.scanned - begin_);
  carry_.reserve_more(piece);
  carry_.append_reserved(chunk_.data() + appended_, piece);
  appended_ += piece;
  begin_ = carry_.data();
  end_ = begin_ + carry_.size();
  at = {begin_ + record, begin_ + field, begin_ + scanned};
}

void RecordStitcher::drop(const char* from, const char* to, Cursor& at) {
  const auto offset = static_cast<std::size_t>(from - begin_);
  const auto size = static_cast<std::size_t>(to - from);
  carry_.erase(offset, offset + size);
  first_drop_ = std::min(first_drop_, offset);
  dropped_ += size;
  end_ -= size;
  at.scanned -= size;
}

// The bytes carried after the record came from the current chunk, so
// reading goes on there.
void RecordStitcher::leave_carry(Cursor& at) {
  const auto unread = static_cast<std::size_t>(end_ - at.record);
  read_chunk_from(appended_ - unread, at);
  carry_.clear();
  dropped_ = 0;
  first_drop_ = SIZE_MAX;
}

// The chunk's last byte is kept, as a line feed at the start of the next
// chunk may complete a CRLF.
void RecordStitcher::release_chunk() {
  if (chunk_.empty()) return;
  last_chunk_byte_ = chunk_.back();
  chunk_offset_ += chunk_.size();
  chunk_ = {};
  appended_ = 0;
  bom_matched_in_chunk_ = 0;
}

void RecordStitcher::read_chunk_from(std::size_t offset, Cursor& at) {
  carrying_ = false;
  begin_ = chunk_.data();
  end_ = begin_ + chunk_.size();
  begin_offset_ = chunk_offset_;
  byte_before_begin_ = last_chunk_byte_;
  at.record = at.field = at.scanned = begin_ + offset;
}

// Makes `bytes`, which start a record at file offset `offset`, the bytes at
// hand; `scanned` says whether they were scanned already.
void RecordStitcher::start_carry(std::string_view bytes, std::uint64_t offset, Cursor& at,
                                 bool scanned) {
  const std::size_t field = scanned ? static_cast<std::size_t>(at.field - bytes.data()) : 0;
  carry_.clear();
  carry_.reserve_more(std::max(bytes.size(), kFirstPiece));
  carry_.append_reserved(bytes.data(), bytes.size());
  carrying_ = true;
  dropped_ = 0;
  first_drop_ = SIZE_MAX;
  begin_ = carry_.data();
  end_ = begin_ + bytes.size();
  begin_offset_ = offset;
  byte_before_begin_ = 0;  // never read: a record does not start with a line end
  at = {begin_, begin_ + field, scanned ? end_ : begin_};
}

}  // namespace ferolin::table
