// GilFreeCall: runs core work without the interpreter's global lock, so that
// other Python threads run meanwhile, and lets long reads check in with
// Python from their read monitor: a progress callable is called and pending
// signals (Ctrl-C) are handled, and an exception raised there ends the read.
#pragma once

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "binding/common/py_ref.h"
#include "core/error.h"
#include "core/os/read_monitor.h"

namespace ferolin::binding {

class GilFreeCall {
 public:
  // `progress`: a callable called as progress(bytes, rows) at every check-in
  // (borrowed; it must outlive the call), or nullptr for none.
  explicit GilFreeCall(PyObject* progress = nullptr) : progress_(progress) {}
  GilFreeCall(const GilFreeCall&) = delete;
  GilFreeCall& operator=(const GilFreeCall&) = delete;

  // Returns a read monitor that checks in with Python every `interval` bytes
  // and at the end of the file. `bytes_of` gives the byte count shown to the
  // progress callable (by default the bytes the reader was handed). The
  // monitor may only be used inside run().
  [[nodiscard]] os::ReadMonitor monitor(
      std::function<std::uint64_t(const os::ReadProgress&)> bytes_of = {},
      std::uint64_t interval = os::ReadMonitor{}.interval);

  // Returns a check for work done in counted steps (bootstrap replicates)
  // that checks in as the monitor does, after every `every` steps and after
  // the last of `total`, calling progress(done, total). It may only be used
  // inside run().
  [[nodiscard]] std::function<Result<void>(std::uint64_t done)> step_check(std::uint64_t total,
                                                                           std::uint64_t every);

  // Runs `work` (which must not touch Python objects) with the lock released
  // and returns its result; the lock is held again when run() returns or
  // throws.
  template <typename Work>
  std::invoke_result_t<Work> run(Work&& work) {
    const Released released(state_);
    return std::forward<Work>(work)();
  }

  // Returns true when a check-in raised; the exception is still set.
  [[nodiscard]] bool raised() const { return raised_; }

  // Sets the exception for work that failed with `error`: the one a
  // check-in raised, if any (the error it caused is dropped), otherwise
  // RuntimeError with the error's text. Returns nullptr.
  PyObject* fail(FerolinError error) const;

 private:
  // Saves the thread state (releasing the lock) for the scope's life.
  class Released {
   public:
    explicit Released(PyThreadState*& state) : state_(state) { state_ = PyEval_SaveThread(); }
    ~Released() { PyEval_RestoreThread(std::exchange(state_, nullptr)); }
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;

   private:
    PyThreadState*& state_;
  };

  Result<void> check_in(std::uint64_t bytes, std::uint64_t rows);

  PyObject* progress_;
  PyThreadState* state_ = nullptr;
  bool raised_ = false;
};

}  // namespace ferolin::binding
