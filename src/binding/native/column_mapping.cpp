#include "binding/native/column_mapping.h"

#include <string>
#include <string_view>

#include "binding/common/convert.h"
#include "binding/common/errors.h"

namespace ferolin::binding::native {
namespace {

std::optional<table::Column> known_column(std::string_view name) {
  // IsCorrect is the last column of the enumeration.
  for (int i = 0; i <= static_cast<int>(table::Column::IsCorrect); ++i) {
    const auto column = static_cast<table::Column>(i);
    if (table::column_name(column) == name) return column;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<table::HeaderName>> parse_columns(PyObject* object) {
  std::vector<table::HeaderName> names;
  if (object == nullptr || object == Py_None) return names;
  if (!dict_parameter(object, "columns")) return std::nullopt;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t position = 0;
  while (PyDict_Next(object, &position, &key, &value)) {
    const std::optional<std::string_view> column = to_text(key);
    if (!column) return std::nullopt;
    const std::optional<std::string_view> header = to_text(value);
    if (!header) return std::nullopt;
    const std::optional<table::Column> known = known_column(*column);
    if (!known) {
      raise_value_error("unknown column '" + std::string(*column) + "'");
      return std::nullopt;
    }
    names.push_back({*known, std::string(*header)});
  }
  return names;
}

bool parse_group_column(PyObject* object, table::TableOptions& options) {
  if (object == nullptr || object == Py_None) return true;
  const std::optional<std::string_view> group = text_parameter(object, "group_column");
  if (!group) return false;
  options.group_column = std::string(*group);
  return true;
}

}  // namespace ferolin::binding::native
