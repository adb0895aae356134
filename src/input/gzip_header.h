// gzip_header_size: the length of a gzip member's header (RFC 1952, 2.3),
// where its deflate stream starts.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace ferolin::tools {

// Returns the size of the well-formed gzip header (deflate method, no
// reserved flags, no header CRC) at the start of `head`, or nothing when
// `head` does not hold one whole.
[[nodiscard]] std::optional<std::size_t> gzip_header_size(std::string_view head);

}  // namespace ferolin::tools
