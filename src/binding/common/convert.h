// Conversions from Python objects to C++ values. Every function returns an
// empty optional (or false) with a Python exception set when it fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "binding/common/args.h"
#include "binding/common/py_ref.h"

namespace ferolin::binding {

// ---- Parameters: a failure gets the note "while processing '<parameter>'".

// A str (or subclass) as UTF-8; the view lives as long as `object`.
[[nodiscard]] std::optional<std::string_view> text_parameter(PyObject* object,
                                                             const char* parameter);
// A float, or anything the interpreter's float conversion accepts.
[[nodiscard]] std::optional<double> float_parameter(PyObject* object, const char* parameter);
// An int as to_unsigned converts it.
[[nodiscard]] std::optional<std::uint64_t> unsigned_parameter(PyObject* object,
                                                              const char* parameter);
// Absent for an omitted parameter (nullptr) or None; otherwise as float.
struct OptionalFloat {
  std::optional<double> value;
};
[[nodiscard]] std::optional<OptionalFloat> optional_float_parameter(PyObject* object,
                                                                    const char* parameter);
// True when `object` is a list (or subclass); otherwise TypeError.
[[nodiscard]] bool list_parameter(PyObject* object, const char* parameter);
// True when `object` is a dict (or subclass); otherwise TypeError.
[[nodiscard]] bool dict_parameter(PyObject* object, const char* parameter);

// The same, for an argument bound by BoundArguments, under its parameter's name.
[[nodiscard]] inline std::optional<std::string_view> text_parameter(Argument argument) {
  return text_parameter(argument.object, argument.name);
}
[[nodiscard]] inline std::optional<double> float_parameter(Argument argument) {
  return float_parameter(argument.object, argument.name);
}
[[nodiscard]] inline std::optional<std::uint64_t> unsigned_parameter(Argument argument) {
  return unsigned_parameter(argument.object, argument.name);
}
[[nodiscard]] inline std::optional<OptionalFloat> optional_float_parameter(Argument argument) {
  return optional_float_parameter(argument.object, argument.name);
}
[[nodiscard]] inline bool list_parameter(Argument argument) {
  return list_parameter(argument.object, argument.name);
}

// ---- Values inside containers: failures carry no note.

// The interpreter's float conversion.
[[nodiscard]] std::optional<double> to_double(PyObject* object);
// An int (bool included) or an object with __index__, in 0..2^64-1:
// TypeError for non-integers (floats too), OverflowError out of range.
[[nodiscard]] std::optional<std::uint64_t> to_unsigned(PyObject* object);

// A str (or subclass) as UTF-8, viewed for as long as `object` lives;
// TypeError "'<type>' object is not an instance of 'str'" otherwise.
[[nodiscard]] std::optional<std::string_view> to_text(PyObject* object);

// Looks `key` up straight in the dict's storage (no __getitem__ or
// __missing__ of a subclass). Returns the value as a new reference, an empty
// PyRef when the key is missing (no exception set), or std::nullopt when
// the lookup raised.
[[nodiscard]] std::optional<PyRef> dict_item(PyObject* dict, const char* key);
// As dict_item, but a missing key raises KeyError "missing '<key>'".
[[nodiscard]] std::optional<PyRef> required_dict_item(PyObject* dict, const char* key);

}  // namespace ferolin::binding
