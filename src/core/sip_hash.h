// SipHash: a keyed hash of byte strings. With a key drawn at random for each
// use, no one who writes a table can choose ids whose hashes collide, which
// would make a hash table as slow as a list.
#pragma once

#include <cstdint>
#include <string_view>

namespace ferolin {

struct SipKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// Returns a key drawn from the system's random source (std::random_device);
// where that fails, one mixed from the clock and an address.
[[nodiscard]] SipKey draw_sip_key();

// Returns SipHash-1-3 of `bytes` under `key`: one compression round per
// 8-byte word and three finalisation rounds, the variant CPython and Rust
// use for their hash tables.
[[nodiscard]] std::uint64_t sip_hash_1_3(const SipKey& key, std::string_view bytes);

// Returns SipHash-2-4, the variant of the published test vectors; it shares
// all its code with sip_hash_1_3.
[[nodiscard]] std::uint64_t sip_hash_2_4(const SipKey& key, std::string_view bytes);

}  // namespace ferolin
