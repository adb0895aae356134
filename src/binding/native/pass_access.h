// What the methods of a pass share: a method column, each column's curve
// computed once, calibration requests, packed number columns and the
// module's mapping of core errors.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "binding/common/args.h"
#include "binding/common/gil_free_call.h"
#include "binding/common/py_ref.h"
#include "binding/native/pass_type.h"
#include "binding/native/records.h"
#include "core/calibration/calibrate_policy.h"
#include "core/error.h"
#include "core/types.h"

namespace ferolin::binding::native {

// Returns the position of the method column given by `index`, or nullopt
// with an exception set (IndexError past the pass's columns).
[[nodiscard]] std::optional<std::size_t> method_index(const QueryPassResult& pass,
                                                      Argument index);

// The queries from `start` to `stop` (both cut to the table's size).
struct QueryRange {
  std::size_t begin = 0;
  std::size_t end = 0;

  [[nodiscard]] std::size_t size() const { return end - begin; }
  template <typename T>
  [[nodiscard]] std::span<const T> of(const std::vector<T>& column) const {
    return std::span<const T>(column).subspan(begin, size());
  }
};

// Returns the queries from the optional parameters `start` (default 0) to
// `stop` (default and None: the end), cut to `size`; nullopt with an
// exception set.
[[nodiscard]] std::optional<QueryRange> range_parameters(Argument start, Argument stop,
                                                         std::size_t size);

// Returns a progress callable (borrowed), nullptr for an omitted one or None,
// or nullopt with TypeError set for anything that cannot be called.
[[nodiscard]] std::optional<PyObject*> progress_parameter(PyObject* object);
[[nodiscard]] inline std::optional<PyObject*> progress_parameter(Argument argument) {
  return progress_parameter(argument.object);
}

// Returns the curve of method column `m`, computed on first use without the
// lock; once stored it never changes, so the reference stays valid for the
// pass's life even when threads share the pass.
[[nodiscard]] const std::vector<RiskCoverageRow>& curve_of(QueryPassResult& pass, std::size_t m);

// The confidences and labels of method column `m` as the core's statistics
// take them (one entry a query): the table's own columns, or for merged
// pairs columns made from them, which hold the labelled queries alone.
struct LabelledColumns {
  LabelledColumns() = default;
  // The spans may point into the vectors below: moves keep their blocks,
  // copies would not.
  LabelledColumns(LabelledColumns&&) = default;
  LabelledColumns(const LabelledColumns&) = delete;
  LabelledColumns& operator=(const LabelledColumns&) = delete;

  std::span<const std::optional<double>> confidences;
  std::span<const std::optional<bool>> labels;
  std::vector<std::optional<double>> made_confidences;  // for merged pairs
  std::vector<std::optional<bool>> made_labels;
};

// Returns the columns of method column `m` of `pass`.
[[nodiscard]] LabelledColumns labelled_columns(const QueryPassResult& pass, std::size_t m);

// Returns the number of queries of the pass, labelled or not.
[[nodiscard]] std::uint64_t query_count(const QueryPassResult& pass);

// Returns the calibration request for method column `m` from the arguments
// error_rate, method and confidence_level (omitted: none), or nullopt with
// an exception set.
[[nodiscard]] std::optional<calibration::CalibrationRequest> calibration_request(
    const QueryPassResult& pass, std::size_t m, Argument error_rate, Argument method,
    Argument confidence_level);

// Sets the exception for a core error: ValueError for InvalidArgument (a
// request the core refuses, e.g. too few replicates), otherwise as
// GilFreeCall::fail (or map_err without a call). Returns nullptr.
PyObject* native_error(FerolinError error, const GilFreeCall* call = nullptr);

// Returns a new int.
[[nodiscard]] inline PyRef unsigned_value(std::uint64_t value) {
  return PyRef::steal(PyLong_FromUnsignedLongLong(value));
}

// Returns a new bytearray holding `count` values produced by `value_at`,
// in native byte order, for numpy.frombuffer or array.array.
template <typename T, typename ValueAt>
[[nodiscard]] PyRef packed(std::size_t count, ValueAt value_at) {
  PyRef bytes = PyRef::steal(
      PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * sizeof(T))));
  if (!bytes) return {};
  char* out = PyByteArray_AsString(bytes.get());
  for (std::size_t i = 0; i < count; ++i) {
    const T value = value_at(i);
    std::memcpy(out + i * sizeof(T), &value, sizeof(T));
  }
  return bytes;
}

}  // namespace ferolin::binding::native
