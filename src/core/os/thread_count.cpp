#include "core/os/thread_count.h"

#include <sched.h>
#include <sys/resource.h>

#include <charconv>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace ferolin::os {
namespace {

std::optional<std::size_t> from_environment() {
  const char* text = std::getenv("FEROLIN_NUM_THREADS");
  if (text == nullptr) return std::nullopt;
  const std::string_view value(text);
  std::size_t count = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
  if (error != std::errc() || end != value.data() + value.size() || count == 0) return std::nullopt;
  return count;
}

// The processors of the affinity mask (a container or `taskset` may allow
// fewer than the machine has).
std::size_t processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<std::size_t>(count);
  }
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? count : 1;
}

// Whether the process runs under a limit of its address space (ulimit -v,
// a job scheduler's memory cap). Each thread then costs its stack out of
// that limit, and a thread whose thread-local memory cannot be had aborts
// the whole process instead of failing one call: by default such a process
// reads on one thread, where running out of memory is a MemoryError.
bool address_space_limited() {
  rlimit limit{};
  return getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
}

}  // namespace

std::size_t thread_count(std::optional<std::size_t> requested) {
  if (requested && *requested > 0) return *requested;
  if (const auto configured = from_environment()) return *configured;
  if (address_space_limited()) return 1;
  return processors();
}

}  // namespace ferolin::os
