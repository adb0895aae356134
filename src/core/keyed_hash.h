// KeyedHash: a string hash for hash tables filled from input, keyed by 128
// random bits drawn when the hash is made. Without the key nobody can tell
// which strings share a bucket, so crafted input cannot make a table slow,
// as it can under std::hash, whose seed is fixed and public. The hash is
// SipHash-1-3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ferolin {

struct SipKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// Returns a fresh key from the kernel's random source (getrandom); where
// that is missing or refused, a key mixed from the clock and a counter.
[[nodiscard]] SipKey draw_sip_key();

// Returns SipHash-1-3 of `bytes` under `key`.
[[nodiscard]] std::uint64_t sip_hash_1_3(const SipKey& key, std::string_view bytes);

struct KeyedHash {
  // Lets a lookup by std::string_view find a std::string key without
  // building a string.
  using is_transparent = void;

  // Draws a fresh key: each table made gets its own.
  KeyedHash() : key(draw_sip_key()) {}
  explicit KeyedHash(SipKey fixed) : key(fixed) {}

  // Deliberately not noexcept: libstdc++ then stores each key's hash in its
  // node, so that a lookup compares hashes before strings and a rehash does
  // not hash every key again.
  std::size_t operator()(std::string_view text) const {
    return static_cast<std::size_t>(sip_hash_1_3(key, text));
  }

  SipKey key;
};

// A hash map from strings under a KeyedHash of its own.
template <typename T>
using KeyedStringMap = std::unordered_map<std::string, T, KeyedHash, std::equal_to<>>;

}  // namespace ferolin
