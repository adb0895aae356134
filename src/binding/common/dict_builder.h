// Building result dictionaries with fixed keys in a fixed order.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "binding/common/py_ref.h"

namespace ferolin::binding {

// The key objects of one kind of result dictionary, created once per call
// and shared by every dictionary the call builds.
template <std::size_t N>
struct DictKeys {
  std::array<PyRef, N> keys;

  // Returns the interned keys, or std::nullopt with an exception set.
  [[nodiscard]] static std::optional<DictKeys> make(const std::array<const char*, N>& names) {
    DictKeys out;
    for (std::size_t i = 0; i < N; ++i) {
      out.keys[i] = PyRef::steal(PyUnicode_InternFromString(names[i]));
      if (!out.keys[i]) return std::nullopt;
    }
    return out;
  }
};

// Returns a new dict holding `values` under `keys`, inserted in order, or an
// empty PyRef with an exception set (also when a value failed to be made).
template <std::size_t N>
[[nodiscard]] PyRef build_dict(const DictKeys<N>& keys, std::array<PyRef, N> values) {
  for (const PyRef& value : values) {
    if (!value) return {};
  }
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return {};
  for (std::size_t i = 0; i < N; ++i) {
    if (PyDict_SetItem(dict.get(), keys.keys[i].get(), values[i].get()) < 0) return {};
  }
  return dict;
}

// Returns a new list holding one dict per record, each built from
// `to_values(record)` under `names`, or an empty PyRef with an exception set.
template <std::size_t N, typename Record, typename ToValues>
[[nodiscard]] PyRef list_of_dicts(std::span<const Record> records,
                                  const std::array<const char*, N>& names, ToValues to_values) {
  std::optional<DictKeys<N>> keys = DictKeys<N>::make(names);
  if (!keys) return {};
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return {};
  for (const Record& record : records) {
    PyRef dict = build_dict(*keys, to_values(record));
    if (!dict || PyList_Append(list.get(), dict.get()) < 0) return {};
  }
  return list;
}

// Returns a new float, or None for an absent value.
[[nodiscard]] inline PyRef optional_float(const std::optional<double>& value) {
  return value ? PyRef::steal(PyFloat_FromDouble(*value)) : PyRef::borrow(Py_None);
}

// Returns a new str from UTF-8 text.
[[nodiscard]] inline PyRef text(std::string_view utf8) {
  return PyRef::steal(
      PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

// Returns a new list of str from `items` (anything with size() and an
// operator[] giving UTF-8 text: a vector of strings, a TextColumn), or an
// empty PyRef with an exception set.
template <typename Texts>
[[nodiscard]] PyRef text_list(const Texts& items) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return {};
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = text(items[i]).release();
    if (item == nullptr) return {};
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

// The items of a column of texts from `start` to `stop`, as text_list takes
// them: a slice of a long column for output written piece by piece.
template <typename Texts>
struct TextSlice {
  const Texts& items;
  std::size_t start;
  std::size_t stop;

  [[nodiscard]] std::size_t size() const { return items.size() == 0 ? 0 : stop - start; }
  [[nodiscard]] decltype(auto) operator[](std::size_t i) const { return items[start + i]; }
};

}  // namespace ferolin::binding
