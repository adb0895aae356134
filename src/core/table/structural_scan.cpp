#include "core/table/structural_scan.h"

#include <algorithm>

#include "core/os/cpu_features.h"
#include "core/table/structural_scan_blocks.h"

namespace ferolin::table {
namespace {

// The AVX2 kernel's target attribute names all of these.
bool has_avx2() {
  const os::CpuFeatures cpu = os::read_cpu_features();
  return cpu.avx2 && cpu.bmi1 && cpu.bmi2 && cpu.popcnt && cpu.pclmulqdq;
}

bool is_line_end(char c) { return c == '\r' || c == '\n'; }

}  // namespace

std::vector<ScanVariant> supported_scan_variants() {
  std::vector<ScanVariant> variants{ScanVariant::Scalar};
#if defined(__x86_64__)
  variants.push_back(ScanVariant::Sse2);
  if (has_avx2()) variants.push_back(ScanVariant::Avx2);
#endif
  return variants;
}

bool is_supported(ScanVariant variant) {
  static const std::vector<ScanVariant> supported = supported_scan_variants();
  return std::ranges::find(supported, variant) != supported.end();
}

ScanVariant fastest_scan_variant() {
  static const ScanVariant fastest = supported_scan_variants().back();
  return fastest;
}

std::string_view scan_variant_name(ScanVariant variant) {
  switch (variant) {
    case ScanVariant::Scalar:
      return "scalar";
    case ScanVariant::Sse2:
      return "sse2";
    case ScanVariant::Avx2:
      return "avx2";
  }
  return "unknown";
}

WindowScan scan_window(ScanVariant variant, std::string_view window, char separator,
                       QuoteState& state, std::uint32_t* field_ends, std::uint32_t* quoted_marks,
                       std::uint64_t* non_ascii_blocks) {
  switch (variant) {
#if defined(__x86_64__)
    case ScanVariant::Avx2:
      return scan::avx2::scan_window(window, separator, state, field_ends, quoted_marks,
                                     non_ascii_blocks);
    case ScanVariant::Sse2:
      return scan::sse2::scan_window(window, separator, state, field_ends, quoted_marks,
                                     non_ascii_blocks);
#endif
    default:
      return scan::scalar::scan_window(window, separator, state, field_ends, quoted_marks,
                                       non_ascii_blocks);
  }
}

namespace scan {

ExactBlock read_exactly(const char* block, std::size_t size, char separator, QuoteState& state) {
  ExactBlock exact;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = block[i];
    const std::uint64_t bit = std::uint64_t{1} << i;
    const bool ends_field = c == separator || is_line_end(c);
    switch (state) {
      case QuoteState::FieldStart:
      case QuoteState::Unquoted:
        if (ends_field) {
          exact.marks.field_ends |= bit;
          state = QuoteState::FieldStart;
        } else {
          state = c == '"' && state == QuoteState::FieldStart ? QuoteState::Quoted
                                                              : QuoteState::Unquoted;
        }
        break;
      case QuoteState::Quoted:
        if (c == '"') {
          state = QuoteState::AfterQuote;
        } else if (ends_field) {
          exact.marks.quoted_marks |= bit;
        }
        break;
      case QuoteState::AfterQuote:
        if (ends_field) {
          exact.marks.field_ends |= bit;
          state = QuoteState::FieldStart;
        } else if (c == '"') {
          exact.marks.quoted_marks |= bit;
          state = QuoteState::Quoted;
        } else {
          exact.bad_quote = static_cast<unsigned>(i);
          return exact;
        }
        break;
    }
  }
  return exact;
}

}  // namespace scan
}  // namespace ferolin::table
