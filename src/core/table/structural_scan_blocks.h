// The part of the structural scan that every kernel shares: from the class
// masks of a 64-byte block to its field ends and quoted marks, and the exact
// byte-at-a-time reading of a block that the masks alone cannot settle.
// Internal to the scan (structural_scan*.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/table/structural_scan.h"

namespace ferolin::table::scan {

inline constexpr std::size_t kBlock = 64;

// Bit i stands for byte i of a block.
struct BlockClasses {
  std::uint64_t quotes = 0;
  std::uint64_t ends = 0;  // separators and line ends
  bool non_ascii = false;  // a byte is above 0x7F
};

struct BlockMarks {
  std::uint64_t field_ends = 0;
  std::uint64_t quoted_marks = 0;
  // Quotes that the parity of quotes alone reads wrongly (one inside an
  // unquoted field) and bytes after a closing quote that are an error.
  std::uint64_t unsettled = 0;
};

// The state between blocks in the form the masks use.
struct Carry {
  std::uint64_t inside = 0;       // all ones inside a quoted field
  std::uint64_t field_start = 1;  // 1: the last byte was a separator, line end or quote
  std::uint64_t after_quote = 0;  // 1: the last byte was a closing quote
};

[[gnu::always_inline]] inline Carry carry_from(QuoteState state) {
  switch (state) {
    case QuoteState::FieldStart:
      return {0, 1, 0};
    case QuoteState::Unquoted:
      return {0, 0, 0};
    case QuoteState::Quoted:
      return {~std::uint64_t{0}, 0, 0};
    case QuoteState::AfterQuote:
      return {0, 1, 1};
  }
  return {};
}

[[gnu::always_inline]] inline QuoteState state_from(const Carry& carry) {
  if (carry.inside) return QuoteState::Quoted;
  if (carry.after_quote) return QuoteState::AfterQuote;
  return carry.field_start ? QuoteState::FieldStart : QuoteState::Unquoted;
}

// Reads a block by the parity of its quotes: `quote_parity` has bit i set
// when bytes 0..i hold an odd number of quotes. Exact unless `unsettled` is
// set: a quote opens a quoted field only at the start of a field, and a
// closing quote must be followed by a separator, a line end or a second
// quote. `last` is the index of the block's last byte; bits above it are 0
// in `classes`.
[[gnu::always_inline]] inline BlockMarks read_by_parity(const BlockClasses& classes,
                                                        std::uint64_t quote_parity, Carry& carry,
                                                        unsigned last) {
  const std::uint64_t inside = quote_parity ^ carry.inside;  // for quotes: after the quote
  const std::uint64_t opening = classes.quotes & inside;
  const std::uint64_t closing = classes.quotes & ~inside;
  const std::uint64_t special = classes.ends | classes.quotes;
  const std::uint64_t may_open = (special << 1) | carry.field_start;
  const std::uint64_t after_closing = (closing << 1) | carry.after_quote;
  const std::uint64_t in_block = (std::uint64_t{2} << last) - 1;
  BlockMarks marks;
  marks.field_ends = classes.ends & ~inside;
  marks.quoted_marks = (classes.ends & inside) | (opening & after_closing);
  marks.unsettled = (opening & ~may_open) | (after_closing & ~special & in_block);
  carry.inside = std::uint64_t{0} - ((inside >> last) & 1);
  carry.field_start = (special >> last) & 1;
  carry.after_quote = (closing >> last) & 1;
  return marks;
}

struct ExactBlock {
  BlockMarks marks;                   // `unsettled` stays 0
  std::optional<unsigned> bad_quote;  // the byte after a closing quote that is an error
};

// Reads the `size` bytes of `block` one at a time from `state`, which it
// advances; stops at a quote error (the marks then cover the bytes before it).
[[nodiscard]] ExactBlock read_exactly(const char* block, std::size_t size, char separator,
                                      QuoteState& state);

// The kernels, one per variant (structural_scan_<variant>.cpp).
namespace scalar {
WindowScan scan_window(std::string_view window, char separator, QuoteState& state,
                       std::uint32_t* field_ends, std::uint32_t* quoted_marks,
                       std::uint64_t* non_ascii_blocks);
}
namespace sse2 {
WindowScan scan_window(std::string_view window, char separator, QuoteState& state,
                       std::uint32_t* field_ends, std::uint32_t* quoted_marks,
                       std::uint64_t* non_ascii_blocks);
}
namespace avx2 {
WindowScan scan_window(std::string_view window, char separator, QuoteState& state,
                       std::uint32_t* field_ends, std::uint32_t* quoted_marks,
                       std::uint64_t* non_ascii_blocks);
}

}  // namespace ferolin::table::scan
