// start_background_thread: a helper thread that never takes a signal, so
// that a signal (Ctrl-C) reaches the caller's thread and interrupts its
// waits, where the interrupt check runs.
#pragma once

#include <functional>
#include <string_view>
#include <thread>

#include "core/error.h"

namespace ferolin::tools {

// Returns a thread running `body` with every signal blocked, or an `Io`
// error "gzip: cannot start the <what>: <reason>".
[[nodiscard]] Result<std::thread> start_background_thread(std::function<void()> body,
                                                          std::string_view what);

}  // namespace ferolin::tools
