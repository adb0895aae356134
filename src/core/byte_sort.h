// Sorting text keys by their raw bytes, compared as unsigned values, a proper
// prefix first: the order in which every list of queries comes out.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace ferolin {

// Returns the positions 0 .. keys.size() - 1 ordered by the bytes of the keys
// at those positions. Equal keys keep no particular order.
[[nodiscard]] std::vector<std::size_t> order_by_bytes(std::span<const std::string_view> keys);

}  // namespace ferolin
