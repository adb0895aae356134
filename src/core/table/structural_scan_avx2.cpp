// The AVX2 kernel of the structural scan, for x86-64 processors that have
// AVX2 (with BMI1, BMI2, POPCNT and the carry-less multiply, which every
// such processor has; the dispatch checks them all). Only these functions
// are compiled for AVX2, by their target attribute: the rest of ferolin runs
// on any x86-64 processor.
#include "core/table/structural_scan_blocks.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace ferolin::table::scan::avx2 {

#define FEROLIN_SCAN_TARGET [[gnu::target("avx2,bmi,bmi2,popcnt,pclmul")]]

namespace {

FEROLIN_SCAN_TARGET inline std::uint64_t byte_mask(__m256i bytes) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
}

class Classifier {
 public:
  FEROLIN_SCAN_TARGET explicit Classifier(char separator)
      : quote_(_mm256_set1_epi8('"')),
        separator_(_mm256_set1_epi8(separator)),
        cr_(_mm256_set1_epi8('\r')),
        lf_(_mm256_set1_epi8('\n')) {}

  FEROLIN_SCAN_TARGET BlockClasses classify(const char* block) {
    BlockClasses classes;
    __m256i seen = _mm256_setzero_si256();
    for (int i = 0; i < 2; ++i) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32 * i));
      seen = _mm256_or_si256(seen, bytes);
      const __m256i ends = _mm256_or_si256(
          _mm256_or_si256(_mm256_cmpeq_epi8(bytes, cr_), _mm256_cmpeq_epi8(bytes, lf_)),
          _mm256_cmpeq_epi8(bytes, separator_));
      classes.quotes |= byte_mask(_mm256_cmpeq_epi8(bytes, quote_)) << (32 * i);
      classes.ends |= byte_mask(ends) << (32 * i);
    }
    classes.non_ascii = _mm256_movemask_epi8(seen) != 0;
    return classes;
  }

 private:
  __m256i quote_, separator_, cr_, lf_;
};

// A carry-less multiply by all ones: bit i of the product is the xor of
// bits 0..i.
FEROLIN_SCAN_TARGET inline std::uint64_t prefix_xor(std::uint64_t x) {
  const __m128i product =
      _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(x)), _mm_set1_epi8(-1), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

FEROLIN_SCAN_TARGET inline int count_bits(std::uint64_t x) {
  return static_cast<int>(_mm_popcnt_u64(x));
}

// TZCNT gives 64 for 0.
FEROLIN_SCAN_TARGET inline int lowest_bit(std::uint64_t x) {
  return static_cast<int>(_tzcnt_u64(x));
}

}  // namespace

#include "core/table/structural_scan_kernel.h"

#undef FEROLIN_SCAN_TARGET

}  // namespace ferolin::table::scan::avx2

#endif
