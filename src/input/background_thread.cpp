#include "input/background_thread.h"

#include <pthread.h>
#include <signal.h>

#include <optional>
#include <string>
#include <system_error>

namespace ferolin::tools {

Result<std::thread> start_background_thread(std::function<void()> body, std::string_view what) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  Result<std::thread> started = std::thread();
  try {
    started = std::thread(std::move(body));
  } catch (const std::system_error& error) {
    started = std::unexpected(FerolinError::io("gzip: cannot start the " + std::string(what) +
                                               ": " + std::string(error.what())));
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

}  // namespace ferolin::tools
