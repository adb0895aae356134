// Recognising, by their first bytes, the compressed and archive formats that
// the table reader does not read, so that such a file is named for what it
// is instead of failing as a table with bytes that are not text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ferolin::tools {

// The most first bytes recognise_unread_format() looks at.
inline constexpr std::size_t kFormatMagicBytes = 6;

// Returns what the file is and what to do, for a file whose first bytes
// `head` (up to kFormatMagicBytes) are those of zstd, bzip2, xz, zlib or
// zip (an Excel workbook is one); nothing for any other start.
[[nodiscard]] std::optional<std::string> recognise_unread_format(std::string_view head);

}  // namespace ferolin::tools
