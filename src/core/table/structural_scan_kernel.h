// The scan loop of one kernel, compiled once per variant with the variant's
// instruction set. Each structural_scan_<variant>.cpp includes this file
// inside its own namespace after defining there:
//   FEROLIN_SCAN_TARGET   the attribute [[gnu::target(...)]] of the variant, or nothing;
//   class Classifier      Classifier(char separator);
//                         BlockClasses classify(const char* block)  (64 bytes);
//   prefix_xor(x)         bit i: the parity of bits 0..i of x;
//   count_bits(x)         the number of set bits of x;
//   lowest_bit(x)         the index of the lowest set bit of x, without a
//                         branch; any value when x is 0.
// No include guard: one inclusion per variant.

// Writes base + the index of every set bit of `bits`, in increasing order.
// The first eight are written without a branch per bit (entries past the
// last set bit are written too, into the arrays' slack, and not counted).
[[gnu::always_inline]] FEROLIN_SCAN_TARGET inline std::uint32_t* write_offsets(std::uint32_t* out,
                                                                               std::uint64_t bits,
                                                                               std::uint32_t base) {
  const auto count = static_cast<std::size_t>(count_bits(bits));
  for (int i = 0; i < 8; ++i) {
    out[i] = base + static_cast<std::uint32_t>(lowest_bit(bits));
    bits &= bits - 1;
  }
  for (std::size_t i = 8; i < count; ++i) {
    out[i] = base + static_cast<std::uint32_t>(lowest_bit(bits));
    bits &= bits - 1;
  }
  return out + count;
}

// Where a window's scan writes: the two offset arrays (moving on as they
// fill), the bits of the blocks that hold a byte above 0x7F, and the result.
struct ScanOutput {
  std::uint32_t* ends;
  std::uint32_t* marks;
  std::uint64_t* non_ascii_blocks;
  WindowScan result;
};

// Scans one block of `size` bytes (64 but at the end of the window) that
// starts `base` bytes into the window. Returns false at a quote error,
// which it records in `out.result`.
[[gnu::always_inline]] FEROLIN_SCAN_TARGET inline bool scan_block(
    Classifier& classifier, const char* block, std::size_t size, std::uint32_t base, char separator,
    Carry& carry, ScanOutput& out) {
  BlockClasses classes = classifier.classify(block);
  if (classes.non_ascii) [[unlikely]] {
    const std::size_t index = base / kBlock;
    out.non_ascii_blocks[index / 64] |= std::uint64_t{1} << (index % 64);
    out.result.non_ascii = true;
  }
  const auto last = static_cast<unsigned>(size - 1);
  if (size < kBlock) {
    // The padding must not count, whatever the separator.
    const std::uint64_t in_block = (std::uint64_t{2} << last) - 1;
    classes.quotes &= in_block;
    classes.ends &= in_block;
  }
  if ((classes.quotes | carry.inside | carry.after_quote) == 0) [[likely]] {
    // No quote in or before the block: every separator and line end ends a
    // field (most blocks of most tables).
    out.ends = write_offsets(out.ends, classes.ends, base);
    carry.field_start = (classes.ends >> last) & 1;
    return true;
  }
  const Carry before = carry;
  BlockMarks block_marks = read_by_parity(classes, prefix_xor(classes.quotes), carry, last);
  if (block_marks.unsettled != 0) [[unlikely]] {
    QuoteState exact_state = state_from(before);
    const ExactBlock exact = read_exactly(block, size, separator, exact_state);
    carry = carry_from(exact_state);
    block_marks = exact.marks;
    if (exact.bad_quote) out.result.bad_quote = base + *exact.bad_quote;
  }
  out.ends = write_offsets(out.ends, block_marks.field_ends, base);
  if (block_marks.quoted_marks != 0) [[unlikely]] {
    out.marks = write_offsets(out.marks, block_marks.quoted_marks, base);
  }
  return !out.result.bad_quote;
}

FEROLIN_SCAN_TARGET WindowScan scan_window(std::string_view window, char separator,
                                           QuoteState& state, std::uint32_t* field_ends,
                                           std::uint32_t* quoted_marks,
                                           std::uint64_t* non_ascii_blocks) {
  Classifier classifier(separator);
  Carry carry = carry_from(state);
  ScanOutput out{field_ends, quoted_marks, non_ascii_blocks, {}};
  std::fill_n(non_ascii_blocks, block_words(window.size()), 0);
  const std::size_t whole_blocks = window.size() / kBlock * kBlock;
  bool no_error = true;
  std::size_t offset = 0;
  for (; no_error && offset < whole_blocks; offset += kBlock) {
    no_error = scan_block(classifier, window.data() + offset, kBlock,
                          static_cast<std::uint32_t>(offset), separator, carry, out);
  }
  if (no_error && offset < window.size()) {
    alignas(kBlock) char tail[kBlock] = {};
    std::memcpy(tail, window.data() + offset, window.size() - offset);
    scan_block(classifier, tail, window.size() - offset, static_cast<std::uint32_t>(offset),
               separator, carry, out);
  }
  state = state_from(carry);
  out.result.field_ends = static_cast<std::uint32_t>(out.ends - field_ends);
  out.result.quoted_marks = static_cast<std::uint32_t>(out.marks - quoted_marks);
  return out.result;
}
