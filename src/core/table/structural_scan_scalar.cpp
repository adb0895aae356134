// The plain C++ kernel of the structural scan, for every processor: the
// class masks come from eight bytes at a time in 64-bit integers.
#include <algorithm>
#include <cstring>

#include "core/table/bit_tricks.h"
#include "core/table/structural_scan_blocks.h"

namespace ferolin::table::scan::scalar {

#define FEROLIN_SCAN_TARGET

namespace {

using bits::each_byte;
using bits::equal_bytes;
using bits::gather_high_bits;

class Classifier {
 public:
  explicit Classifier(char separator)
      : separator_(each_byte(static_cast<unsigned char>(separator))) {}

  BlockClasses classify(const char* block) {
    BlockClasses classes;
    std::uint64_t seen = 0;
    for (int i = 0; i < 8; ++i) {
      const std::uint64_t word = bits::load_le<std::uint64_t>(block + 8 * i);
      seen |= word;
      const std::uint64_t ends =
          equal_bytes(word, separator_) | equal_bytes(word, kCr) | equal_bytes(word, kLf);
      classes.quotes |= gather_high_bits(equal_bytes(word, kQuote)) << (8 * i);
      classes.ends |= gather_high_bits(ends) << (8 * i);
    }
    classes.non_ascii = (seen & bits::kHighBits) != 0;
    return classes;
  }

 private:
  static constexpr std::uint64_t kQuote = each_byte('"');
  static constexpr std::uint64_t kCr = each_byte('\r');
  static constexpr std::uint64_t kLf = each_byte('\n');
  std::uint64_t separator_;
};

inline std::uint64_t prefix_xor(std::uint64_t x) { return bits::prefix_xor(x); }
inline int count_bits(std::uint64_t x) { return bits::count(x); }
inline int lowest_bit(std::uint64_t x) { return bits::lowest(x); }

}  // namespace

#include "core/table/structural_scan_kernel.h"

#undef FEROLIN_SCAN_TARGET

}  // namespace ferolin::table::scan::scalar
