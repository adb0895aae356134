// UTF-8 validation of the fields of a candidates table.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace ferolin {

// Returns true when every byte of `bytes` is below 0x80.
[[nodiscard]] bool is_ascii(std::string_view bytes);

// Returns the length of the longest valid UTF-8 prefix of `bytes` when the
// whole is not valid UTF-8 (overlong forms, surrogates, values above
// U+10FFFF and cut sequences are invalid), or nothing when it is valid.
[[nodiscard]] std::optional<std::size_t> utf8_error_offset(std::string_view bytes);

}  // namespace ferolin
