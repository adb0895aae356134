// Structural scan of CSV bytes: finds, a window at a time, the separators and
// line ends that end fields (those outside quoted fields), by classifying 64
// bytes at a time into bit masks of quotes, separators and line ends and
// walking the set bits. Kernels for SSE2 (every x86-64 processor), AVX2
// (chosen at run time where the processor has it) and plain C++ (every
// processor) give identical results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ferolin::table {

enum class ScanVariant { Scalar, Sse2, Avx2 };

// Returns the variants this processor runs, the plain C++ one first.
[[nodiscard]] std::vector<ScanVariant> supported_scan_variants();

// Returns true when this processor runs `variant`.
[[nodiscard]] bool is_supported(ScanVariant variant);

// Returns the fastest variant this processor runs.
[[nodiscard]] ScanVariant fastest_scan_variant();

// Returns "scalar", "sse2" or "avx2".
[[nodiscard]] std::string_view scan_variant_name(ScanVariant variant);

// Returns true for the separators the scan supports: ASCII characters other
// than NUL, the double quote, CR and LF.
[[nodiscard]] constexpr bool is_valid_separator(char c) {
  return c > 0 && c != '"' && c != '\r' && c != '\n';
}

// Where the reading rules stand after the last byte scanned.
enum class QuoteState : std::uint8_t {
  FieldStart,  // after a separator or line end, or at the start: a quote opens a quoted field
  Unquoted,    // inside an unquoted field: a quote is an ordinary character
  Quoted,      // inside a quoted field
  AfterQuote,  // after the closing quote of a quoted field, or the first of a doubled quote
};

// The room the offset arrays of scan_window() need beyond one entry per byte.
inline constexpr std::size_t kScanSlack = 64;

// Returns the 64-bit words that hold a bit for each 64-byte block of `bytes` bytes.
[[nodiscard]] constexpr std::size_t block_words(std::size_t bytes) { return (bytes + 4095) / 4096; }

struct WindowScan {
  std::uint32_t field_ends = 0;    // entries written to `field_ends`
  std::uint32_t quoted_marks = 0;  // entries written to `quoted_marks`
  bool non_ascii = false;          // a byte of the window is above 0x7F
  // Offset of the first byte that follows a closing quote and is neither a
  // separator, a line end nor another quote; the scan stops there.
  std::optional<std::uint32_t> bad_quote;
};

// Scans `window` (fewer than 2^32 bytes) from `state`, which it
// leaves at the state after the window. Writes, in increasing order, the
// offset of every separator and line end outside quoted fields to
// `field_ends`, and of every separator, line end and doubled quote (its
// second quote) inside quoted fields to `quoted_marks`; each array needs
// room for window.size() + kScanSlack entries. Sets bit b of
// `non_ascii_blocks` (room for block_words(window.size()) words) when
// bytes [64 b, 64 b + 64) hold one above 0x7F. Stops at the first quote
// error. `separator` must pass is_valid_separator(), `variant` must be one
// of supported_scan_variants().
[[nodiscard]] WindowScan scan_window(ScanVariant variant, std::string_view window, char separator,
                                     QuoteState& state, std::uint32_t* field_ends,
                                     std::uint32_t* quoted_marks, std::uint64_t* non_ascii_blocks);

}  // namespace ferolin::table
