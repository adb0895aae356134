// output_open(path) and the OutputFile it returns, whose write(data),
// commit() and abandon() are the core's writer for the command's outputs
// (tables, JSON, plots), so that they are written as policy files are: the
// target replaced only when complete, with its owner, mode and links kept.
// Dropping an output uncommitted abandons it.
#include <array>
#include <memory>
#include <string>
#include <utility>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/gil_free_call.h"
#include "binding/native/functions.h"
#include "binding/native/native_state.h"
#include "binding/native/owned_type.h"
#include "core/os/output_file.h"

namespace ferolin::binding::native {
namespace {

// OSError with the system's text, unless a signal handler raised (Ctrl-C).
PyObject* raise_os_error(const GilFreeCall& call, const FerolinError& error) {
  if (!call.raised()) PyErr_SetString(PyExc_OSError, error.detail.c_str());
  return nullptr;
}

PyObject* output_open(PyObject* module, BoundArguments& arguments) {
  const std::optional<std::string_view> path = text_parameter(arguments.next());
  if (!path) return nullptr;
  if (path->find('\0') != std::string_view::npos) return raise_value_error("embedded null byte");
  GilFreeCall call;
  Result<std::unique_ptr<os::OutputFile>> opened =
      call.run([&] { return os::OutputFile::open(std::string(*path), call.interrupt_check()); });
  if (!opened) return raise_os_error(call, opened.error());
  return wrap_owned(native_state(module).output_type, std::move(*opened)).release();
}

// OutputFile.write(data), METH_O.
PyObject* write(PyObject* self, PyObject* data) {
  return guarded(PyType_GetModule(Py_TYPE(self)), [&]() -> PyObject* {
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(data, &bytes, &size) < 0) return nullptr;
    GilFreeCall call;
    // The bytes object is held by the caller's arguments while the lock is free.
    Result<void> written = call.run([&] {
      return owned_value<os::OutputFile>(self).write(
          std::string_view(bytes, static_cast<std::size_t>(size)));
    });
    if (!written) return raise_os_error(call, written.error());
    return PyLong_FromSsize_t(size);
  });
}

// OutputFile.commit(), METH_NOARGS.
PyObject* commit(PyObject* self, PyObject*) {
  return guarded(PyType_GetModule(Py_TYPE(self)), [&]() -> PyObject* {
    GilFreeCall call;
    Result<void> committed = call.run([&] { return owned_value<os::OutputFile>(self).commit(); });
    if (!committed) return raise_os_error(call, committed.error());
    Py_RETURN_NONE;
  });
}

// OutputFile.abandon(), METH_NOARGS.
PyObject* abandon(PyObject* self, PyObject*) {
  return guarded(PyType_GetModule(Py_TYPE(self)), [&]() -> PyObject* {
    owned_value<os::OutputFile>(self).abandon();
    Py_RETURN_NONE;
  });
}

PyMethodDef kMethods[] = {
    {"write", write, METH_O,
     "write($self, data, /)\n--\n\nAppend the bytes `data`; returns their length."},
    {"commit", commit, METH_NOARGS,
     "commit($self, /)\n--\n\nPut what was written in place of the target."},
    {"abandon", abandon, METH_NOARGS,
     "abandon($self, /)\n--\n\nDrop what was written; the target stays as it was."},
    {nullptr, nullptr, 0, nullptr},
};

constexpr std::array<const char*, 1> kPathParameter = {"path"};

}  // namespace

const NativeFunction kOutputOpen{{"output_open", kPathParameter, 1}, output_open};

PyObject* new_output_type(PyObject* module) {
  return new_owned_type<os::OutputFile>(
      module, "ferolin_tools._native.OutputFile",
      "An output being written (output_open); dropped uncommitted, it is abandoned.", kMethods);
}

}  // namespace ferolin::binding::native
