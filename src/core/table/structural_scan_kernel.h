// The scan loop of one kernel, compiled once per variant with the variant's
// instruction set. Each structural_scan_<variant>.cpp includes this file
// inside its own namespace after defining there:
//   FEROLIN_SCAN_TARGET   the attribute [[gnu::target(...)]] of the variant, or nothing;
//   class Classifier      Classifier(char separator);
//                         BlockClasses classify(const char* block)  (64 bytes);
//                         bool saw_non_ascii() const  (of the blocks classified);
//   prefix_xor(x)         bit i: the parity of bits 0..i of x;
//   count_bits(x)         the number of set bits of x.
// No include guard: one inclusion per variant.

// Writes base + the index of every set bit of `bits`, in increasing order.
// The first eight are written without a branch per bit (entries past the
// last set bit are written too, into the arrays' slack, and not counted).
[[gnu::always_inline]] FEROLIN_SCAN_TARGET inline std::uint32_t* write_offsets(std::uint32_t* out,
                                                                               std::uint64_t bits,
                                                                               std::uint32_t base) {
  const auto count = static_cast<std::size_t>(count_bits(bits));
  for (int i = 0; i < 8; ++i) {
    out[i] = base + static_cast<std::uint32_t>(std::countr_zero(bits));
    bits &= bits - 1;
  }
  for (std::size_t i = 8; i < count; ++i) {
    out[i] = base + static_cast<std::uint32_t>(std::countr_zero(bits));
    bits &= bits - 1;
  }
  return out + count;
}

FEROLIN_SCAN_TARGET WindowScan scan_window(std::string_view window, char separator,
                                           QuoteState& state, std::uint32_t* field_ends,
                                           std::uint32_t* quoted_marks) {
  Classifier classifier(separator);
  Carry carry = carry_from(state);
  std::uint32_t* ends = field_ends;
  std::uint32_t* marks = quoted_marks;
  WindowScan result;
  alignas(kBlock) char tail[kBlock];
  for (std::size_t offset = 0; offset < window.size(); offset += kBlock) {
    const std::size_t size = std::min(kBlock, window.size() - offset);
    const char* block = window.data() + offset;
    if (size < kBlock) {
      std::memset(tail, 0, kBlock);
      std::memcpy(tail, block, size);
      block = tail;
    }
    BlockClasses classes = classifier.classify(block);
    const auto last = static_cast<unsigned>(size - 1);
    if (size < kBlock) {
      // The padding must not count, whatever the separator.
      const std::uint64_t in_block = (std::uint64_t{2} << last) - 1;
      classes.quotes &= in_block;
      classes.ends &= in_block;
    }
    const Carry before = carry;
    BlockMarks block_marks = read_by_parity(classes, prefix_xor(classes.quotes), carry, last);
    const auto base = static_cast<std::uint32_t>(offset);
    if (block_marks.unsettled != 0) [[unlikely]] {
      QuoteState exact_state = state_from(before);
      const ExactBlock exact = read_exactly(block, size, separator, exact_state);
      carry = carry_from(exact_state);
      block_marks = exact.marks;
      if (exact.bad_quote) {
        ends = write_offsets(ends, block_marks.field_ends, base);
        marks = write_offsets(marks, block_marks.quoted_marks, base);
        result.bad_quote = base + *exact.bad_quote;
        break;
      }
    }
    ends = write_offsets(ends, block_marks.field_ends, base);
    if (block_marks.quoted_marks != 0) [[unlikely]] {
      marks = write_offsets(marks, block_marks.quoted_marks, base);
    }
  }
  state = state_from(carry);
  result.field_ends = static_cast<std::uint32_t>(ends - field_ends);
  result.quoted_marks = static_cast<std::uint32_t>(marks - quoted_marks);
  result.non_ascii = classifier.saw_non_ascii();
  return result;
}
