#include "core/os/reading_threads.h"

#include <sched.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace ferolin::os {
namespace {

// Returns the positive number FEROLIN_NUM_THREADS holds, or 0 when it is
// unset or holds anything else.
unsigned threads_from_environment() {
  const char* text = std::getenv("FEROLIN_NUM_THREADS");
  if (text == nullptr) return 0;
  unsigned value = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value);
  return error == std::errc() && stop == end ? value : 0;
}

// The CPUs this process may run on (a container's or taskset's limit), not
// the machine's.
unsigned usable_cpus() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  return std::thread::hardware_concurrency();
}

}  // namespace

unsigned reading_threads() {
  if (const unsigned chosen = threads_from_environment(); chosen > 0) return chosen;
  const unsigned cpus = usable_cpus();
  return cpus > 0 ? cpus : 1;
}

}  // namespace ferolin::os
