#include "input/input_formats.h"

#include <array>

namespace ferolin::tools {
namespace {

struct Format {
  std::string_view magic;
  std::string_view name;
  std::string_view advice;
};

using namespace std::string_view_literals;

// zlib's streams start with 0x78 and a check byte; only those that cannot
// begin a text (0x01, 0x9C, 0xDA are no UTF-8 start) are taken for zlib.
constexpr std::array kFormats = {
    Format{"\x28\xb5\x2f\xfd"sv, "zstd-compressed", "decompress it first (zstd -d)"},
    Format{"BZh"sv, "bzip2-compressed", "decompress it first (bunzip2)"},
    Format{"\xfd" "7zXZ\x00"sv, "xz-compressed", "decompress it first (unxz)"},
    Format{"\x78\x01"sv, "zlib-compressed", "decompress it first, or compress it with gzip"},
    Format{"\x78\x9c"sv, "zlib-compressed", "decompress it first, or compress it with gzip"},
    Format{"\x78\xda"sv, "zlib-compressed", "decompress it first, or compress it with gzip"},
    Format{"PK\x03\x04"sv, "a zip archive (an Excel workbook is one)",
           "export the sheet as CSV, or unzip the table"},
};

}  // namespace

std::optional<std::string> recognise_unread_format(std::string_view head) {
  for (const Format& format : kFormats) {
    if (!head.starts_with(format.magic)) continue;
    // "BZh" must be followed by the block size digit, so a table whose
    // header starts with "BZh" is still read.
    if (format.magic == "BZh"sv && (head.size() < 4 || head[3] < '1' || head[3] > '9')) continue;
    return "the file is " + std::string(format.name) +
           ", which is not read here (CSV or TSV, plain or gzip-compressed): " +
           std::string(format.advice);
  }
  return std::nullopt;
}

}  // namespace ferolin::tools
