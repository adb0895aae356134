#include "binding/native/core_errors.h"

#include <string_view>
#include <utility>
#include <vector>

#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"
#include "binding/native/native_state.h"

namespace ferolin::binding::native {
namespace {

std::string_view kind_name(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Csv:
      return "csv";
    case ErrorKind::Io:
      return "io";
    case ErrorKind::Json:
      return "json";
    case ErrorKind::Write:
      return "write";
    case ErrorKind::MissingColumn:
      return "missing_column";
    case ErrorKind::BadCell:
      return "bad_cell";
    case ErrorKind::TooLong:
      return "too_long";
    case ErrorKind::JsonType:
      return "json_type";
    case ErrorKind::UnknownPolicyVersion:
      return "unknown_policy_version";
    case ErrorKind::UnsupportedConfidenceLevel:
      return "unsupported_confidence_level";
    case ErrorKind::MissingConfidenceLevel:
      return "missing_confidence_level";
    case ErrorKind::ParquetNotCompiled:
      return "parquet_not_compiled";
    case ErrorKind::InvalidArgument:
      return "invalid_argument";
  }
  return "unknown";
}

std::string_view reason_name(CellError reason) {
  switch (reason) {
    case CellError::EmptyInteger:
      return "empty_integer";
    case CellError::InvalidDigit:
      return "invalid_digit";
    case CellError::IntegerTooLarge:
      return "integer_too_large";
    case CellError::EmptyFloat:
      return "empty_float";
    case CellError::InvalidFloat:
      return "invalid_float";
    case CellError::InvalidBool:
      return "invalid_bool";
  }
  return "unknown";
}

PyRef number(std::uint64_t value) { return PyRef::steal(PyLong_FromUnsignedLongLong(value)); }

using Attribute = std::pair<const char*, PyRef>;

// The facts of `error` that its kind has.
std::vector<Attribute> facts(const FerolinError& error) {
  std::vector<Attribute> out;
  out.emplace_back("kind", text(kind_name(error.kind)));
  if (error.kind == ErrorKind::MissingColumn) out.emplace_back("column", text(error.detail));
  if (!error.path.empty()) out.emplace_back("path", text(error.path));
  if (const auto& cell = error.cell) {
    out.emplace_back("line", number(cell->line));
    out.emplace_back("field", number(cell->field));
    out.emplace_back("value", text(cell->cell));
    out.emplace_back("reason", text(reason_name(cell->reason)));
  }
  if (const auto& place = error.too_long) {
    out.emplace_back("record", number(place->record));
    out.emplace_back("line", number(place->line));
    out.emplace_back("byte", number(place->byte));
    out.emplace_back("field", number(place->field));
    out.emplace_back("limit", number(place->limit));
    out.emplace_back("whole_record", PyRef::borrow(place->whole_record ? Py_True : Py_False));
  }
  if (const auto& wrong = error.json_type) {
    out.emplace_back("key", text(wrong->key));
    out.emplace_back("expected", text(wrong->expected));
    out.emplace_back("found", text(wrong->found));
    out.emplace_back("value", text(wrong->value));
    out.emplace_back("line", number(wrong->line));
    out.emplace_back("column", number(wrong->column));
  }
  return out;
}

void add_table_context(std::vector<Attribute>& out, const TableContext& table) {
  out.emplace_back("header", text_list(table.header));
  out.emplace_back("source", table.source ? number(*table.source) : PyRef::borrow(Py_None));
}

}  // namespace

PyObject* new_core_error_class() {
  return PyErr_NewExceptionWithDoc(
      "ferolin_tools._native.CoreError",
      "A failure of ferolin's core: the text is its message; kind and the failure's facts "
      "are attributes.",
      PyExc_RuntimeError, nullptr);
}

PyObject* raise_core_error(PyObject* module, const FerolinError& error,
                           const std::optional<TableContext>& table) {
  std::vector<Attribute> attributes = facts(error);
  if (table) add_table_context(attributes, *table);
  PyObject* type = native_state(module).core_error;
  PyRef message = text(error.message());
  if (type == nullptr || !message) return raise_runtime_error(error.message());
  PyRef exception = PyRef::steal(PyObject_CallFunctionObjArgs(type, message.get(), nullptr));
  if (!exception) return nullptr;
  for (const auto& [name, value] : attributes) {
    if (!value || PyObject_SetAttrString(exception.get(), name, value.get()) < 0) return nullptr;
  }
  PyErr_SetObject(type, exception.get());
  return nullptr;
}

}  // namespace ferolin::binding::native
