// The IEEE 754 total order of 64-bit floats, as one integer key per value, so
// that sorting and "largest" choices treat +0.0, -0.0 and NaN deterministically.
#pragma once

#include <bit>
#include <cstdint>

namespace ferolin {

// Returns a key whose ordinary integer order is the IEEE 754 total order of
// the values: -NaN < -inf < ... < -0.0 < +0.0 < ... < +inf < +NaN.
[[nodiscard]] constexpr std::int64_t total_order_key(double value) {
  const auto bits = std::bit_cast<std::int64_t>(value);
  // Negative values order backwards by their bits: flip all but the sign.
  const auto flip = static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
  return bits ^ flip;
}

}  // namespace ferolin
