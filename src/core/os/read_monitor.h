// ReadMonitor: lets a long read of a table report its progress and be
// stopped from outside (a progress display, a Ctrl-C in the caller).
#pragma once

#include <cstdint>
#include <functional>

#include "core/error.h"
#include "core/os/interruption.h"

namespace ferolin::os {

// How far a read has come.
struct ReadProgress {
  std::uint64_t bytes = 0;  // bytes read from the file so far
  std::uint64_t rows = 0;   // records handed out so far, the header included
};

struct ReadMonitor {
  // Called after every `interval` bytes read, once at the end of the file,
  // and whenever a signal interrupts opening or reading the file; an error
  // it returns ends the read with that error. Empty: never called.
  std::function<Result<void>(const ReadProgress&)> check;
  std::uint64_t interval = std::uint64_t{4} << 20;
};

// Returns the check of interrupted calls for a read that `monitor` watches:
// the monitor's check with `progress` as it stands then. Both must outlive
// the check.
[[nodiscard]] inline InterruptCheck interrupt_check(const ReadMonitor& monitor,
                                                    const ReadProgress& progress) {
  if (!monitor.check) return {};
  return [&monitor, &progress] { return monitor.check(progress); };
}

}  // namespace ferolin::os
