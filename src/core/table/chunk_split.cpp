#include "core/table/chunk_split.h"

#include <array>
#include <optional>

namespace ferolin::table {
namespace {

// Returns the first line start at or after `from` (> 0), or nothing when
// the data ends first.
Result<std::optional<PartStart>> line_start_from(const ReadAt& read_at, std::uint64_t from,
                                                 std::uint64_t size) {
  // One byte more than is looked at: a CR is a line end only when no LF follows.
  std::array<char, 4096 + 1> bytes{};
  for (std::uint64_t at = from - 1; at + 1 < size;) {
    const auto got = read_at(at, bytes);
    if (!got) return std::unexpected(got.error());
    if (*got == 0) break;
    for (std::size_t i = 0; i + 1 < *got || (i < *got && at + i + 1 == size); ++i) {
      const char byte = bytes[i];
      const bool lf_follows = i + 1 < *got && bytes[i + 1] == '\n';
      if (byte == '\n' || (byte == '\r' && !lf_follows)) {
        if (at + i + 1 >= size) return std::nullopt;
        return PartStart{at + i + 1, byte};
      }
    }
    at += *got - 1;
  }
  return std::nullopt;
}

}  // namespace

Result<std::vector<PartStart>> split_at_line_starts(const ReadAt& read_at, PartStart data,
                                                    std::uint64_t size,
                                                    std::uint64_t part_bytes) {
  std::vector<PartStart> starts{data};
  while (starts.back().byte + part_bytes < size) {
    const auto next = line_start_from(read_at, starts.back().byte + part_bytes, size);
    if (!next) return std::unexpected(next.error());
    if (!*next) break;
    starts.push_back(**next);
  }
  return starts;
}

}  // namespace ferolin::table
