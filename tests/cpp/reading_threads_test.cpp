#include "core/os/reading_threads.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace ferolin::os {
namespace {

// FEROLIN_NUM_THREADS decides when it holds a positive number; anything
// else leaves the CPU count.
TEST(ReadingThreads, EnvironmentOverridesTheCpuCount) {
  unsetenv("FEROLIN_NUM_THREADS");
  const unsigned cpus = reading_threads();
  ASSERT_GE(cpus, 1u);
  const struct {
    const char* value;
    unsigned threads;
  } cases[] = {{"3", 3}, {"1", 1}, {"0", cpus}, {"-2", cpus}, {"2x", cpus}, {"", cpus}};
  for (const auto& c : cases) {
    setenv("FEROLIN_NUM_THREADS", c.value, 1);
    EXPECT_EQ(reading_threads(), c.threads) << c.value;
  }
  unsetenv("FEROLIN_NUM_THREADS");
}

}  // namespace
}  // namespace ferolin::os
