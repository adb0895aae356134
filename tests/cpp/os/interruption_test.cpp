// Waits that a signal interrupts (a FIFO without its other end, a full pipe)
// ask the check, are tried again while it lets them go on, and stop with its
// error. (The Python tests send real signals to the module's functions.)
#include "core/os/interruption.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "core/os/file_reader.h"
#include "core/os/file_replace.h"
#include "core/os/unique_fd.h"
#include "core/os/write_in_place.h"
#include "core/policy_file/policy_json.h"
#include "support/policy_test_support.h"

namespace ferolin::os {
namespace {

using namespace std::chrono_literals;

// Sends SIGUSR1, whose handler does nothing and was installed without
// SA_RESTART (as an interpreter installs its own), to the calling thread
// every few milliseconds while it lives.
class Interrupter {
 public:
  Interrupter() : target_(::pthread_self()) {
    struct sigaction action{};
    action.sa_handler = [](int) {};
    ::sigaction(SIGUSR1, &action, &old_);
    thread_ = std::jthread([this](const std::stop_token& stop) {
      while (!stop.stop_requested()) {
        ::pthread_kill(target_, SIGUSR1);
        std::this_thread::sleep_for(5ms);
      }
    });
  }
  ~Interrupter() {
    thread_.request_stop();
    thread_.join();
    ::sigaction(SIGUSR1, &old_, nullptr);
  }
  Interrupter(const Interrupter&) = delete;
  Interrupter& operator=(const Interrupter&) = delete;

 private:
  pthread_t target_;
  struct sigaction old_{};
  std::jthread thread_;
};

// A check that lets `allowed` interrupted calls go on, then stops.
struct CountingCheck {
  int allowed = 0;
  int calls = 0;

  InterruptCheck check() {
    return [this]() -> Result<void> {
      if (++calls > allowed) return std::unexpected(FerolinError::io("stopped"));
      return {};
    };
  }
};

TEST(InterruptionTest, WaitsOnAFifoStopWithTheChecksError) {
  test::ScratchDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const Interrupter interrupter;
  const std::vector<std::pair<std::string, std::function<Result<void>(InterruptCheck)>>> waits = {
      {"open for reading",
       [&](InterruptCheck check) -> Result<void> {
         auto reader = FileReader::open(fifo, std::move(check));
         if (!reader) return std::unexpected(reader.error());
         return {};
       }},
      {"policy",
       [&](InterruptCheck check) -> Result<void> {
         auto policy = policy_file::read_policy(fifo, std::move(check));
         if (!policy) return std::unexpected(policy.error());
         return {};
       }},
      {"open for writing",
       [&](InterruptCheck check) { return replace_file_text(fifo, "text", std::move(check)); }},
  };
  for (const auto& [name, wait] : waits) {
    CountingCheck counting{.allowed = 2};
    const Result<void> result = wait(counting.check());
    ASSERT_FALSE(result.has_value()) << name;
    EXPECT_EQ(result.error().message(), "IO error: stopped") << name;
    EXPECT_EQ(counting.calls, 3) << name;
  }
  EXPECT_EQ(dir.listing(), "fifo ");
}

TEST(InterruptionTest, AWriteIntoAFullPipeStopsWithEintr) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const UniqueFd read_end(ends[0]);
  const UniqueFd write_end(ends[1]);
  const std::string text(1 << 20, 'x');  // more than a pipe holds
  const Interrupter interrupter;
  CountingCheck counting{.allowed = 1};
  Interruption interruption(counting.check());
  EXPECT_EQ(write_stream(write_end.get(), text, interruption), EINTR);
  EXPECT_EQ(counting.calls, 2);
  ASSERT_TRUE(interruption.stop().has_value());
}

}  // namespace
}  // namespace ferolin::os
