// Helpers shared by the C++ benchmark programs: failing loudly, timing and
// the process's own peak memory.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

// Prints `message` after the program's name and ends the process.
[[noreturn]] inline void die(const char* program, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", program, message.c_str());
  std::exit(1);
}

// Returns the seconds since `start`.
[[nodiscard]] inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Returns the high-water mark of this process image's resident memory in
// KiB. Unlike getrusage's ru_maxrss it starts afresh at exec, so it does not
// count the pages of the (Python) process that forked this one.
[[nodiscard]] inline long peak_rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace bench
