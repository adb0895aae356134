#include "input/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/stats/random.h"

namespace ferolin::tools {
namespace {

std::string hex_of(std::string_view message, Sha256::Engine engine) {
  Sha256 hash(engine);
  hash.update(message);
  return hash.hex_digest();
}

// The examples of FIPS 180-4 (one block, two blocks, a million 'a') and the
// empty message, by both engines.
TEST(Sha256, KnownDigests) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hex_of(c.message, Sha256::Engine::Portable), c.digest) << c.message.size();
    EXPECT_EQ(hex_of(c.message, Sha256::Engine::Fastest), c.digest) << c.message.size();
  }
}

// Every length around the block and padding boundaries, fed in pieces of
// every size: both engines agree with the one-piece portable digest, and
// digest() leaves the hash open for more bytes.
TEST(Sha256, PiecesAndEnginesAgree) {
  stats::Xoshiro256StarStar generator = stats::Xoshiro256StarStar::seeded_by(stats::SplitMix64{7});
  std::string message;
  for (int i = 0; i < 300; ++i) message += static_cast<char>(generator.next());
  for (std::size_t length = 0; length <= message.size(); ++length) {
    const std::string_view whole = std::string_view(message).substr(0, length);
    const std::string want = hex_of(whole, Sha256::Engine::Portable);
    for (const std::size_t piece : {1, 7, 63, 64, 65}) {
      Sha256 hash;
      for (std::size_t at = 0; at < length; at += piece) {
        hash.update(whole.substr(at, piece));
        if (at == 0) (void)hash.digest();
      }
      EXPECT_EQ(hash.hex_digest(), want) << length << " in pieces of " << piece;
    }
  }
}

// Longer random messages cut at random places, so that runs of many blocks
// reach the compression between short, pending tails: the fastest engine
// agrees with the portable one taking the message whole.
TEST(Sha256, RandomSplitsAgree) {
  stats::Xoshiro256StarStar generator = stats::Xoshiro256StarStar::seeded_by(stats::SplitMix64{11});
  for (int round = 0; round < 40; ++round) {
    std::string message(stats::uniform_below(generator, 20000), '\0');
    for (char& byte : message) byte = static_cast<char>(generator.next());
    Sha256 hash;
    for (std::size_t at = 0; at < message.size();) {
      const std::size_t piece = stats::uniform_below(generator, 700);
      hash.update(std::string_view(message).substr(at, piece));
      at += piece;
    }
    EXPECT_EQ(hash.hex_digest(), hex_of(message, Sha256::Engine::Portable)) << message.size();
  }
}

}  // namespace
}  // namespace ferolin::tools
