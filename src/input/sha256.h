// Sha256: the SHA-256 digest of a byte stream fed in pieces, so that a table
// can be fingerprinted while it is read, without reading it a second time.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ferolin::tools {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;
  // Fastest: the processor's SHA extensions where it has them; Portable:
  // plain C++ everywhere (the two give the same digests; tests compare them).
  enum class Engine { Fastest, Portable };

  explicit Sha256(Engine engine = Engine::Fastest);

  // Returns true when Fastest uses the processor's SHA extensions.
  [[nodiscard]] static bool has_fast_engine();

  // Adds `bytes` to the message.
  void update(std::string_view bytes);

  // Returns the digest of every byte added so far; the object is left as it
  // was, so more bytes may follow.
  [[nodiscard]] Digest digest() const;

  // Returns the digest as 64 lowercase hexadecimal digits, as sha256sum prints it.
  [[nodiscard]] std::string hex_digest() const;

 private:
  // Compresses `count` whole 64-byte blocks into the state.
  using BlocksFunction = void (*)(std::array<std::uint32_t, 8>& state, const std::uint8_t* blocks,
                                  std::size_t count);

  BlocksFunction compress_;
  std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pending_size_ = 0;
  std::uint64_t length_ = 0;  // bytes added
};

}  // namespace ferolin::tools
