// output_open(path), output_write(output, data), output_commit(output) and
// output_abandon(output): the core's writer for the command's outputs
// (tables, JSON, plots), so that they are written as policy files are: the
// target replaced only when complete, with its owner, mode and links kept.
// An output lives in a capsule; dropping it uncommitted abandons it.
#include <array>
#include <memory>
#include <string>
#include <utility>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/gil_free_call.h"
#include "binding/native/functions.h"
#include "core/os/output_file.h"

namespace ferolin::binding::native {
namespace {

constexpr const char* kCapsuleName = "ferolin_tools._native.OutputFile";

void destroy(PyObject* capsule) {
  delete static_cast<os::OutputFile*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

// Returns the output inside `capsule`, or nullptr with TypeError set.
os::OutputFile* unwrap_output(PyObject* capsule) {
  if (!PyCapsule_IsValid(capsule, kCapsuleName)) {
    PyErr_SetString(PyExc_TypeError, "expected the result of output_open()");
    return nullptr;
  }
  return static_cast<os::OutputFile*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

// OSError with the system's text, unless a signal handler raised (Ctrl-C).
PyObject* raise_os_error(const GilFreeCall& call, const FerolinError& error) {
  if (!call.raised()) PyErr_SetString(PyExc_OSError, error.detail.c_str());
  return nullptr;
}

PyObject* output_open(PyObject*, BoundArguments& arguments) {
  const std::optional<std::string_view> path = text_parameter(arguments.next());
  if (!path) return nullptr;
  if (path->find('\0') != std::string_view::npos) return raise_value_error("embedded null byte");
  GilFreeCall call;
  Result<std::unique_ptr<os::OutputFile>> opened =
      call.run([&] { return os::OutputFile::open(std::string(*path), call.interrupt_check()); });
  if (!opened) return raise_os_error(call, opened.error());
  PyRef capsule = PyRef::steal(PyCapsule_New(opened->get(), kCapsuleName, destroy));
  if (capsule) static_cast<void>(opened->release());  // the capsule owns it now
  return capsule.release();
}

PyObject* output_write(PyObject*, BoundArguments& arguments) {
  os::OutputFile* output = unwrap_output(arguments.next().object);
  if (output == nullptr) return nullptr;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(arguments.next().object, &data, &size) < 0) return nullptr;
  GilFreeCall call;
  // The bytes object is held by the caller's arguments while the lock is free.
  Result<void> written = call.run(
      [&] { return output->write(std::string_view(data, static_cast<std::size_t>(size))); });
  if (!written) return raise_os_error(call, written.error());
  return PyLong_FromSsize_t(size);
}

PyObject* output_commit(PyObject*, BoundArguments& arguments) {
  os::OutputFile* output = unwrap_output(arguments.next().object);
  if (output == nullptr) return nullptr;
  GilFreeCall call;
  Result<void> committed = call.run([&] { return output->commit(); });
  if (!committed) return raise_os_error(call, committed.error());
  Py_RETURN_NONE;
}

PyObject* output_abandon(PyObject*, BoundArguments& arguments) {
  os::OutputFile* output = unwrap_output(arguments.next().object);
  if (output == nullptr) return nullptr;
  output->abandon();
  Py_RETURN_NONE;
}

constexpr std::array<const char*, 1> kPathParameter = {"path"};
constexpr std::array<const char*, 1> kOutputParameter = {"output"};
constexpr std::array<const char*, 2> kWriteParameters = {"output", "data"};

}  // namespace

const NativeFunction kOutputOpen{{"output_open", kPathParameter, 1}, output_open};
const NativeFunction kOutputWrite{{"output_write", kWriteParameters, 2}, output_write};
const NativeFunction kOutputCommit{{"output_commit", kOutputParameter, 1}, output_commit};
const NativeFunction kOutputAbandon{{"output_abandon", kOutputParameter, 1}, output_abandon};

}  // namespace ferolin::binding::native
