#include "binding/common/convert.h"

#include "binding/common/errors.h"

namespace ferolin::binding {
namespace {

template <typename T>
std::optional<T> fail_with_note(const char* parameter) {
  add_processing_note(parameter);
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> text_parameter(PyObject* object, const char* parameter) {
  std::optional<std::string_view> text = to_text(object);
  if (!text) return fail_with_note<std::string_view>(parameter);
  return text;
}

std::optional<double> float_parameter(PyObject* object, const char* parameter) {
  std::optional<double> value = to_double(object);
  if (!value) return fail_with_note<double>(parameter);
  return value;
}

std::optional<std::uint64_t> unsigned_parameter(PyObject* object, const char* parameter) {
  std::optional<std::uint64_t> value = to_unsigned(object);
  if (!value) return fail_with_note<std::uint64_t>(parameter);
  return value;
}

std::optional<OptionalFloat> optional_float_parameter(PyObject* object, const char* parameter) {
  if (object == nullptr || object == Py_None) return OptionalFloat{};
  std::optional<double> value = float_parameter(object, parameter);
  if (!value) return std::nullopt;
  return OptionalFloat{*value};
}

bool list_parameter(PyObject* object, const char* parameter) {
  if (PyList_Check(object)) return true;
  raise_not_instance(object, "list");
  add_processing_note(parameter);
  return false;
}

bool dict_parameter(PyObject* object, const char* parameter) {
  if (PyDict_Check(object)) return true;
  raise_not_instance(object, "dict");
  add_processing_note(parameter);
  return false;
}

std::optional<double> to_double(PyObject* object) {
  if (PyFloat_CheckExact(object)) return PyFloat_AsDouble(object);
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> to_unsigned(PyObject* object) {
  PyRef integer = PyRef::borrow(object);
  if (!PyLong_Check(object)) {
    integer = PyRef::steal(PyNumber_Index(object));
    if (!integer) return std::nullopt;
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(integer.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

std::optional<std::string_view> to_text(PyObject* object) {
  if (!PyUnicode_Check(object)) {
    raise_not_instance(object, "str");
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return std::nullopt;
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

std::optional<PyRef> dict_item(PyObject* dict, const char* key) {
  PyRef key_object = PyRef::steal(PyUnicode_InternFromString(key));
  if (!key_object) return std::nullopt;
  PyObject* value = PyDict_GetItemWithError(dict, key_object.get());
  if (value == nullptr && PyErr_Occurred()) return std::nullopt;
  // Own the value: converting it may run Python code that mutates the dict.
  return PyRef::borrow(value);
}

std::optional<PyRef> required_dict_item(PyObject* dict, const char* key) {
  std::optional<PyRef> value = dict_item(dict, key);
  if (value && !*value) {
    raise_missing_key(key);
    return std::nullopt;
  }
  return value;
}

}  // namespace ferolin::binding
