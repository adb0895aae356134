#include "core/os/thread_count.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace ferolin::os {
namespace {

// A request above 0 decides; then FEROLIN_NUM_THREADS when it holds a
// positive number; anything else leaves the CPU count.
TEST(ThreadCount, RequestThenEnvironmentThenTheCpuCount) {
  unsetenv("FEROLIN_NUM_THREADS");
  const std::size_t cpus = thread_count();
  ASSERT_GE(cpus, 1u);
  const struct {
    const char* value;
    std::size_t threads;
  } cases[] = {{"3", 3}, {"1", 1}, {"0", cpus}, {"-2", cpus}, {"2x", cpus}, {"", cpus}};
  for (const auto& c : cases) {
    setenv("FEROLIN_NUM_THREADS", c.value, 1);
    EXPECT_EQ(thread_count(), c.threads) << c.value;
    EXPECT_EQ(thread_count(5), 5u) << c.value;
  }
  unsetenv("FEROLIN_NUM_THREADS");
}

}  // namespace
}  // namespace ferolin::os
