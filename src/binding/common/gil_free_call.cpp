#include "binding/common/gil_free_call.h"

#include "binding/common/errors.h"

namespace ferolin::binding {

os::ReadMonitor GilFreeCall::monitor(std::function<std::uint64_t(const os::ReadProgress&)> bytes_of,
                                     std::uint64_t interval) {
  os::ReadMonitor monitor;
  monitor.interval = interval;
  monitor.check = [this, bytes_of = std::move(bytes_of)](const os::ReadProgress& progress) {
    // The header is not a row of the table.
    const std::uint64_t rows = progress.rows > 0 ? progress.rows - 1 : 0;
    return check_in(bytes_of ? bytes_of(progress) : progress.bytes, rows);
  };
  return monitor;
}

std::function<Result<void>(std::uint64_t)> GilFreeCall::step_check(std::uint64_t total,
                                                                   std::uint64_t every) {
  return [this, total, every = every > 0 ? every : 1](std::uint64_t done) -> Result<void> {
    if (done % every != 0 && done != total) return {};
    return check_in(done, total);
  };
}

Result<void> GilFreeCall::check_in(std::uint64_t bytes, std::uint64_t rows) {
  PyEval_RestoreThread(state_);
  bool ok = true;
  if (progress_ != nullptr) {
    // The result is dropped while the lock is held.
    PyRef result =
        PyRef::steal(PyObject_CallFunction(progress_, "KK", static_cast<unsigned long long>(bytes),
                                           static_cast<unsigned long long>(rows)));
    ok = static_cast<bool>(result);
  }
  if (ok && PyErr_CheckSignals() < 0) ok = false;
  state_ = PyEval_SaveThread();
  if (ok) return {};
  // The exception stays set in this thread's state until the work returns.
  raised_ = true;
  return std::unexpected(FerolinError::io("stopped by the caller"));
}

PyObject* GilFreeCall::fail(FerolinError error) const {
  if (raised_ && PyErr_Occurred()) return nullptr;
  return map_err(std::move(error));
}

}  // namespace ferolin::binding
