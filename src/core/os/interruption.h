// What a system call that may wait for as long as another process pleases
// (opening a FIFO without a writer or reader, reading an idle pipe, writing
// into a full one) does when a signal interrupts it. Without a check it is
// simply tried again, as SA_RESTART would do. A caller whose signal
// handlers must run before the call ends (an interpreter's Ctrl-C handler
// is installed without SA_RESTART for that reason) gives a check, which
// decides whether to go on.
#pragma once

#include <cerrno>
#include <functional>
#include <optional>
#include <utility>

#include "core/error.h"

namespace ferolin::os {

// Returns nothing to try the interrupted call again, or the error that
// ends the operation.
using InterruptCheck = std::function<Result<void>()>;

// Asks a check after each interrupted call of one operation and keeps the
// error of the answer that stopped it.
class Interruption {
 public:
  Interruption() = default;
  explicit Interruption(InterruptCheck check) : check_(std::move(check)) {}

  // Called after a system call failed with EINTR: returns true to try it
  // again, false once the check says stop. errno is left as it was.
  [[nodiscard]] bool retry() {
    if (!check_) return true;
    const int saved = errno;
    Result<void> go_on = check_();
    errno = saved;
    if (go_on) return true;
    stop_ = std::move(go_on.error());
    return false;
  }

  // The check's error once it said stop.
  [[nodiscard]] const std::optional<FerolinError>& stop() const { return stop_; }

 private:
  InterruptCheck check_;
  std::optional<FerolinError> stop_;
};

// Returns what `call` (a system call: -1 with errno on failure) returned,
// calling it again after each EINTR for as long as `interruption` lets it;
// a stopped call returns -1 with errno EINTR.
template <typename Call>
[[nodiscard]] auto retry_interrupted(Interruption& interruption, Call&& call) {
  while (true) {
    const auto result = call();
    if (result != -1 || errno != EINTR || !interruption.retry()) return result;
  }
}

// The same, calling it again after every EINTR.
template <typename Call>
[[nodiscard]] auto retry_interrupted(Call&& call) {
  Interruption retry_always;
  return retry_interrupted(retry_always, std::forward<Call>(call));
}

}  // namespace ferolin::os
