#include "core/stats/random.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace ferolin::stats {
namespace {

// The generators' published reference outputs.
TEST(RandomTest, KnownAnswers) {
  SplitMix64 splitmix{0};
  const std::array<std::uint64_t, 3> splitmix_expected = {
      0xE220A8397B1DCDAFULL, 0x6E789E6AA1B965F4ULL, 0x06C45D188009454FULL};
  for (std::uint64_t expected : splitmix_expected) EXPECT_EQ(splitmix.next(), expected);

  Xoshiro256StarStar xoshiro{{1, 2, 3, 4}};
  const std::array<std::uint64_t, 10> xoshiro_expected = {11520ULL,
                                                          0ULL,
                                                          1509978240ULL,
                                                          1215971899390074240ULL,
                                                          1216172134540287360ULL,
                                                          607988272756665600ULL,
                                                          16172922978634559625ULL,
                                                          8476171486693032832ULL,
                                                          10595114339597558777ULL,
                                                          2904607092377533576ULL};
  for (std::uint64_t expected : xoshiro_expected) EXPECT_EQ(xoshiro.next(), expected);
}

// Hands out fixed words, to steer uniform_below into and out of rejection.
struct Scripted {
  std::vector<std::uint64_t> words;
  std::size_t used = 0;
  std::uint64_t next() { return words.at(used++); }
};

TEST(RandomTest, UniformBelowRejectsTheBiasedRemainder) {
  constexpr std::uint64_t kTop = ~std::uint64_t{0};
  const struct {
    const char* name;
    std::uint64_t bound;
    std::vector<std::uint64_t> words;
    std::uint64_t value;
    std::size_t used;
  } cases[] = {
      // 2^64 mod 3 = 1: the low word 0 is the one biased product, drawn again.
      {"low word in the remainder", 3, {0, kTop}, 2, 2},
      {"low word above the remainder", 3, {0x5555555555555556ULL}, 1, 1},
      {"top word", 3, {kTop}, 2, 1},
      // A power of two has no remainder: nothing is ever drawn again.
      {"power of two", 8, {0}, 0, 1},
      {"bound 1", 1, {12345}, 0, 1},
      {"largest bound", kTop, {kTop}, kTop - 1, 1},
  };
  for (const auto& c : cases) {
    Scripted generator{c.words};
    EXPECT_EQ(uniform_below(generator, c.bound), c.value) << c.name;
    EXPECT_EQ(generator.used, c.used) << c.name;
  }
}

TEST(RandomTest, UniformBelowCoversTheRangeEvenly) {
  Xoshiro256StarStar generator = Xoshiro256StarStar::seeded_by(SplitMix64{7});
  std::array<int, 6> seen{};
  for (int i = 0; i < 60000; ++i) ++seen.at(uniform_below(generator, 6));
  // Each face 10,000 times; a 5-sigma band is about +-460.
  for (int count : seen) EXPECT_NEAR(count, 10000, 460);
}

}  // namespace
}  // namespace ferolin::stats
