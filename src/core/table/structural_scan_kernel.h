// The scan loop of one kernel, compiled once per variant with the variant's
// instruction set. Each structural_scan_<variant>.cpp includes this file
// inside its own namespace after defining there:
//   FEROLIN_SCAN_TARGET   the attribute [[gnu::target(...)]] of the variant, or nothing;
//   class Classifier      Classifier(char separator);
//                         BlockClasses classify(const char* block)  (64 bytes);
//                         bool saw_non_ascii() const  (of the blocks classified);
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

// Scans one block of `size` bytes (64 but at the end of the window) that
// starts `base` bytes into the window. Returns false at a quote error,
// which it records in `result`.
[[gnu::always_inline]] FEROLIN_SCAN_TARGET inline bool scan_block(
    Classifier& classifier, const char* block, std::size_t size, std::uint32_t base, char separator,
    Carry& carry, std::uint32_t*& ends, std::uint32_t*& marks, WindowScan& result) {
  BlockClasses classes = classifier.classify(block);
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
    ends = write_offsets(ends, classes.ends, base);
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
    if (exact.bad_quote) result.bad_quote = base + *exact.bad_quote;
  }
  ends = write_offsets(ends, block_marks.field_ends, base);
  if (block_marks.quoted_marks != 0) [[unlikely]] {
    marks = write_offsets(marks, block_marks.quoted_marks, base);
  }
  return !result.bad_quote;
}

FEROLIN_SCAN_TARGET WindowScan scan_window(std::string_view window, char separator,
                                           QuoteState& state, std::uint32_t* field_ends,
                                           std::uint32_t* quoted_marks) {
  Classifier classifier(separator);
  Carry carry = carry_from(state);
  std::uint32_t* ends = field_ends;
  std::uint32_t* marks = quoted_marks;
  WindowScan result;
  const std::size_t whole_blocks = window.size() / kBlock * kBlock;
  bool no_error = true;
  std::size_t offset = 0;
  for (; no_error && offset < whole_blocks; offset += kBlock) {
    no_error =
        scan_block(classifier, window.data() + offset, kBlock, static_cast<std::uint32_t>(offset),
                   separator, carry, ends, marks, result);
  }
  if (no_error && offset < window.size()) {
    alignas(kBlock) char tail[kBlock] = {};
    std::memcpy(tail, window.data() + offset, window.size() - offset);
    scan_block(classifier, tail, window.size() - offset, static_cast<std::uint32_t>(offset),
               separator, carry, ends, marks, result);
  }
  state = state_from(carry);
  result.field_ends = static_cast<std::uint32_t>(ends - field_ends);
  result.quoted_marks = static_cast<std::uint32_t>(marks - quoted_marks);
  result.non_ascii = classifier.saw_non_ascii();
  return result;
}
