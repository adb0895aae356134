// Fuzz target: ferolin's CsvTokenizer against the libcsv reference. The
// first byte of the input picks the separator (',', '\t' or ';') and the next
// eight seed where the rest is cut into chunks; every scan variant this
// processor runs, fed those chunks, must give the records, fields, positions
// and error that the reference gives for the whole input. One seed in eight
// repeats the rest until it spans more than one window of the scan. A last
// read skips the fields that the seed's high bits leave out: it must give
// the same but for their text, however many chunks they span.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/table/csv_tokenizer.h"
#include "fuzz_check.h"
#include "reference/libcsv_tokenizer.h"
#include "reference/tokenized.h"

namespace ferolin::fuzz {
namespace {

constexpr std::size_t kHeader = 9;             // the separator byte and eight bytes of seed
constexpr std::size_t kSpanOfWindows = 20000;  // more than a window of the scan (16 KiB)

// Chunks mostly of a few bytes (every boundary case), some of a few dozen,
// a few of thousands (across the scan's 64-byte blocks and windows).
std::vector<std::size_t> random_cuts(std::uint64_t seed, std::size_t size) {
  std::uint64_t state = seed | 1;
  const auto random = [&state] {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1D;
  };
  std::vector<std::size_t> cuts;
  std::size_t at = 0;
  while (true) {
    const std::uint64_t r = random();
    const std::uint64_t limit = r % 10 < 5 ? 8 : r % 10 < 8 ? 80 : 5000;
    at += 1 + static_cast<std::size_t>((r >> 8) % limit);
    if (at >= size) return cuts;
    cuts.push_back(at);
  }
}

// Returns which fields a read keeps: field i where bit i of `bits` is set,
// none from the 16th on.
std::vector<bool> kept_fields(std::uint64_t bits) {
  std::vector<bool> kept(16);
  for (std::size_t i = 0; i < kept.size(); ++i) kept[i] = (bits >> i & 1) != 0;
  return kept;
}

std::string describe(const reference::Tokenized& tokenized) {
  std::ostringstream out;
  PrintTo(tokenized, &out);
  return out.str();
}

}  // namespace
}  // namespace ferolin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ferolin;
  const char separator = size > 0 ? ",\t;"[data[0] % 3] : ',';
  std::uint64_t seed = 0;
  for (std::size_t i = 1; i < fuzz::kHeader && i < size; ++i) seed = seed << 8 | data[i];
  const std::size_t skip = std::min(size, fuzz::kHeader);
  std::string csv(reinterpret_cast<const char*>(data) + skip, size - skip);
  if (seed % 8 == 0 && !csv.empty()) {
    const std::string once = csv;
    while (csv.size() < fuzz::kSpanOfWindows) csv += once;
  }

  reference::LibcsvTokenizer libcsv(separator);
  const reference::Tokenized want = reference::tokenize(libcsv, csv);
  const std::vector<std::size_t> cuts = fuzz::random_cuts(seed, csv.size());
  for (const table::ScanVariant variant : table::supported_scan_variants()) {
    table::CsvTokenizer ours(separator, variant);
    const reference::Tokenized got = reference::tokenize(ours, csv, cuts);
    fuzz::require(got == want,
                  std::string(table::scan_variant_name(variant)) + " differs from libcsv",
                  "ours:" + fuzz::describe(got) + "\nlibcsv:" + fuzz::describe(want));
  }
  const std::vector<bool> kept = fuzz::kept_fields(seed >> 48);
  table::CsvTokenizer skipping(separator);
  skipping.keep_only_fields(kept);
  const reference::Tokenized got =
      reference::blank_skipped(reference::tokenize(skipping, csv, cuts), kept);
  const reference::Tokenized blanked = reference::blank_skipped(want, kept);
  fuzz::require(got == blanked, "a read skipping fields differs from libcsv",
                "ours:" + fuzz::describe(got) + "\nlibcsv:" + fuzz::describe(blanked));
  return 0;
}
