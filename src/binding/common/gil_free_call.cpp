#include "binding/common/gil_free_call.h"

#include "binding/common/errors.h"

namespace ferolin::binding {
namespace {

// The error that ends work stopped at a check-in; fail() raises the
// check-in's exception in its place.
FerolinError stopped() { return FerolinError::io("stopped by the caller"); }

}  // namespace

os::ReadMonitor GilFreeCall::monitor(std::function<std::uint64_t(const os::ReadProgress&)> bytes_of,
                                     std::uint64_t interval) {
  os::ReadMonitor monitor;
  monitor.interval = interval;
  monitor.check = [this, bytes_of = std::move(bytes_of)](const os::ReadProgress& progress) {
    // The header is not a row of the table.
    const std::uint64_t rows = progress.rows > 0 ? progress.rows - 1 : 0;
    const Progress report{bytes_of ? bytes_of(progress) : progress.bytes, rows};
    return check_in(&report);
  };
  return monitor;
}

os::InterruptCheck GilFreeCall::interrupt_check() {
  return [this] { return check_in(nullptr); };
}

std::function<Result<void>(std::uint64_t)> GilFreeCall::step_check(std::uint64_t total,
                                                                   std::uint64_t every) {
  return [this, total, every = every > 0 ? every : 1](std::uint64_t done) -> Result<void> {
    if (done % every != 0 && done != total) return {};
    const Progress report{done, total};
    return check_in(&report);
  };
}

Result<void> GilFreeCall::check_in(const Progress* progress) {
  // The exception raised at a check-in stays set until the work returns:
  // Python must not run meanwhile.
  if (raised_) return std::unexpected(stopped());
  PyEval_RestoreThread(state_);
  bool ok = true;
  if (progress_ != nullptr && progress != nullptr) {
    // The result is dropped while the lock is held.
    PyRef result = PyRef::steal(
        PyObject_CallFunction(progress_, "KK", static_cast<unsigned long long>(progress->done),
                              static_cast<unsigned long long>(progress->of)));
    ok = static_cast<bool>(result);
  }
  if (ok && PyErr_CheckSignals() < 0) ok = false;
  state_ = PyEval_SaveThread();
  if (ok) return {};
  // The exception stays set in this thread's state until the work returns.
  raised_ = true;
  return std::unexpected(stopped());
}

PyObject* GilFreeCall::fail(FerolinError error) const {
  if (raised_ && PyErr_Occurred()) return nullptr;
  return map_err(std::move(error));
}

}  // namespace ferolin::binding
