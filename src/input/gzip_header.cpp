#include "input/gzip_header.h"

#include <cstdint>

namespace ferolin::tools {
namespace {

constexpr std::uint8_t kExtra = 4;
constexpr std::uint8_t kName = 8;
constexpr std::uint8_t kComment = 16;
constexpr std::uint8_t kHeaderCrc = 2;
constexpr std::uint8_t kReserved = 0xe0;
constexpr std::size_t kFixedPart = 10;

// Returns the offset past the zero-terminated field at `at`.
std::optional<std::size_t> past_zero(std::string_view head, std::size_t at) {
  const std::size_t zero = head.find('\0', at);
  if (zero == std::string_view::npos) return std::nullopt;
  return zero + 1;
}

}  // namespace

std::optional<std::size_t> gzip_header_size(std::string_view head) {
  if (head.size() < kFixedPart || head[0] != '\x1f' || head[1] != '\x8b' || head[2] != 8) {
    return std::nullopt;
  }
  const auto flags = static_cast<std::uint8_t>(head[3]);
  if ((flags & kReserved) != 0) return std::nullopt;
  std::size_t at = kFixedPart;
  if ((flags & kExtra) != 0) {
    if (head.size() < at + 2) return std::nullopt;
    at += 2 + (static_cast<std::uint8_t>(head[at]) | static_cast<std::size_t>(
                                                         static_cast<std::uint8_t>(head[at + 1]))
                                                         << 8);
  }
  for (const std::uint8_t field : {kName, kComment}) {
    if ((flags & field) == 0) continue;
    const std::optional<std::size_t> past = past_zero(head, at);
    if (!past) return std::nullopt;
    at = *past;
  }
  // A header CRC is left to the sequential inflate, which checks it.
  if ((flags & kHeaderCrc) != 0) return std::nullopt;
  if (at > head.size()) return std::nullopt;
  return at;
}

}  // namespace ferolin::tools
