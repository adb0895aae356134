#include "binding/common/errors.h"

#include <string>

#include "binding/common/module_state.h"

namespace ferolin::binding {
namespace {

PyObject* raise_with_text(PyObject* type, std::string_view message) {
  PyRef text = PyRef::steal(
      PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (text) PyErr_SetObject(type, text.get());
  return nullptr;
}

// The type's __name__ (tp_name without the module prefix of static types);
// tp_name itself is not part of the stable ABI.
std::string type_name(PyObject* object) {
  PyRef name = PyRef::steal(PyObject_GetAttrString(
      reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
  Py_ssize_t size = 0;
  const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return {text, static_cast<std::size_t>(size)};
}

// Calls exception.add_note(note) and ignores any failure of the call. The
// method's name is interned: the interpreter's method cache keeps a
// reference to every name it looks up, in a slot chosen by the name's
// address, so a fresh string per call would leave hundreds of copies there.
void try_add_note(PyObject* exception, const char* parameter) {
  PyRef note = PyRef::steal(PyUnicode_FromFormat("while processing '%s'", parameter));
  PyRef method = PyRef::steal(PyUnicode_InternFromString("add_note"));
  if (note && method) {
    PyRef result = PyRef::steal(
        PyObject_CallMethodObjArgs(exception, method.get(), note.get(), nullptr));
  }
  PyErr_Clear();
}

}  // namespace

PyObject* map_err(FerolinError error) {
  // The binomial method without a level is a wrong argument, reported like
  // an unknown method name; every other core failure is a RuntimeError.
  PyObject* type =
      error.kind == ErrorKind::MissingConfidenceLevel ? PyExc_ValueError : PyExc_RuntimeError;
  return raise_with_text(type, error.message());
}

PyObject* raise_runtime_error(std::string_view message) {
  return raise_with_text(PyExc_RuntimeError, message);
}

PyObject* raise_value_error(std::string_view message) {
  return raise_with_text(PyExc_ValueError, message);
}

PyObject* raise_missing_key(const char* key) {
  return raise_with_text(PyExc_KeyError, std::string("missing '") + key + "'");
}

PyObject* raise_not_instance(PyObject* object, const char* expected) {
  std::string message =
      object == Py_None ? std::string("'None' is not an instance of '")
                        : "'" + type_name(object) + "' object is not an instance of '";
  message += expected;
  message += "'";
  return raise_with_text(PyExc_TypeError, message);
}

void add_processing_note(const char* parameter) {
  if (!PyErr_Occurred()) return;
  // The stable ABI of our floor (3.10) has only the older pair of calls.
#if PY_VERSION_HEX >= 0x030C0000 && (!defined(Py_LIMITED_API) || Py_LIMITED_API >= 0x030C0000)
  PyRef exception = PyRef::steal(PyErr_GetRaisedException());
  try_add_note(exception.get(), parameter);
  PyErr_SetRaisedException(exception.release());
#else
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  if (value != nullptr) try_add_note(value, parameter);
  PyErr_Restore(type, value, traceback);
#endif
}

PyObject* new_internal_error_class(const char* name) {
  return PyErr_NewExceptionWithDoc(
      name,
      "A broken internal invariant of ferolin; please report it with the input that caused it.",
      PyExc_BaseException, nullptr);
}

void raise_from_cpp_exception(PyObject* module, std::exception_ptr exception) {
  std::string what = "unknown C++ exception";
  try {
    std::rethrow_exception(exception);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  PyObject* type = module_state(module).internal_error;
  // Only a module cleared while one of its functions runs lacks the class.
  raise_with_text(type != nullptr ? type : PyExc_SystemError, "internal error: " + what);
}

}  // namespace ferolin::binding
