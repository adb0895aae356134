// The SSE2 kernel of the structural scan: every x86-64 processor has SSE2.
#include "core/table/structural_scan_blocks.h"

#if defined(__x86_64__)

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "core/table/bit_tricks.h"

namespace ferolin::table::scan::sse2 {

#define FEROLIN_SCAN_TARGET

namespace {

inline std::uint64_t byte_mask(__m128i bytes) {
  return static_cast<std::uint16_t>(_mm_movemask_epi8(bytes));
}

class Classifier {
 public:
  explicit Classifier(char separator)
      : quote_(_mm_set1_epi8('"')),
        separator_(_mm_set1_epi8(separator)),
        cr_(_mm_set1_epi8('\r')),
        lf_(_mm_set1_epi8('\n')) {}

  BlockClasses classify(const char* block) {
    BlockClasses classes;
    __m128i seen = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
      seen = _mm_or_si128(seen, bytes);
      const __m128i ends =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr_), _mm_cmpeq_epi8(bytes, lf_)),
                       _mm_cmpeq_epi8(bytes, separator_));
      classes.quotes |= byte_mask(_mm_cmpeq_epi8(bytes, quote_)) << (16 * i);
      classes.ends |= byte_mask(ends) << (16 * i);
    }
    classes.non_ascii = _mm_movemask_epi8(seen) != 0;
    return classes;
  }

 private:
  __m128i quote_, separator_, cr_, lf_;
};

inline std::uint64_t prefix_xor(std::uint64_t x) { return bits::prefix_xor(x); }
inline int count_bits(std::uint64_t x) { return bits::count(x); }
inline int lowest_bit(std::uint64_t x) { return bits::lowest(x); }

}  // namespace

#include "core/table/structural_scan_kernel.h"

#undef FEROLIN_SCAN_TARGET

}  // namespace ferolin::table::scan::sse2

#endif
