#include "binding/native/table_spelling.h"

#include <string>
#include <utility>

#include "binding/common/convert.h"
#include "binding/common/errors.h"

namespace ferolin::binding::native {
namespace {

std::optional<char> parse_decimal(PyObject* object) {
  if (object == nullptr || object == Py_None) return '.';
  const std::optional<std::string_view> text = text_parameter(object, "decimal");
  if (!text) return std::nullopt;
  if (*text != "." && *text != ",") {
    raise_value_error("the decimal separator must be '.' or ',', not '" + std::string(*text) +
                      "'");
    return std::nullopt;
  }
  return (*text)[0];
}

}  // namespace

std::optional<table::NumberSpelling> number_spelling_parameters(PyObject* decimal,
                                                                PyObject* na_values) {
  table::NumberSpelling spelling;
  const std::optional<char> separator = parse_decimal(decimal);
  if (!separator) return std::nullopt;
  spelling.decimal = *separator;
  spelling.missing = table::common_missing_spellings();
  if (na_values == nullptr || na_values == Py_None) return spelling;
  if (!list_parameter(na_values, "na_values")) return std::nullopt;
  const Py_ssize_t count = PyList_Size(na_values);
  for (Py_ssize_t i = 0; i < count; ++i) {
    const std::optional<std::string_view> word = to_text(PyList_GetItem(na_values, i));
    if (!word) return std::nullopt;
    spelling.missing.emplace_back(*word);
  }
  return spelling;
}

}  // namespace ferolin::binding::native
