// run_arrow_pass(stream, scores, columns=None, keep_ids=False, progress=None,
// group_column=None, confidence_column=None, lower_is_better=False): the
// per-query pass of run_pass over an Arrow C stream,
// given as the PyCapsule named "arrow_array_stream" that an object's
// __arrow_c_stream__() returns. The stream is moved out of the capsule (its
// release left null, as the capsule protocol asks) and read without the GIL.
// Only functions of Python's limited API are used here.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/gil_free_call.h"
#include "binding/common/method_names.h"
#include "binding/native/column_mapping.h"
#include "binding/native/core_errors.h"
#include "binding/native/functions.h"
#include "binding/native/own_column.h"
#include "binding/native/pass_access.h"
#include "binding/native/read_outcome.h"
#include "core/arrow/arrow_stream_pass.h"
#include "core/table/candidate_columns.h"

namespace ferolin::binding::native {
namespace {

constexpr const char* kCapsuleName = "arrow_array_stream";
constexpr std::array<const char*, 8> kParameters = {
    "stream",       "scores",           "columns",        "keep_ids", "progress",
    "group_column", "confidence_column", "lower_is_better"};
constexpr Signature kSignature{"run_arrow_pass", kParameters, 2};

struct ArrowPassArguments {
  ArrowArrayStream* stream = nullptr;  // inside the capsule, until the core takes it
  pipeline::PassRequest request;
  PyObject* progress = nullptr;  // borrowed; nullptr for none
  std::optional<OwnColumnRequest> own;
};

std::optional<ArrowPassArguments> convert_arguments(BoundArguments& bound) {
  ArrowPassArguments arguments;
  PyObject* stream = bound.next().object;
  if (PyCapsule_IsValid(stream, kCapsuleName) == 0) {
    raise_not_instance(stream, "a PyCapsule named 'arrow_array_stream'");
    return std::nullopt;
  }
  arguments.stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(stream, kCapsuleName));
  if (arguments.stream == nullptr) return std::nullopt;
  if (arguments.stream->release == nullptr) {
    raise_value_error("the Arrow stream has been read already");
    return std::nullopt;
  }
  const Argument scores = bound.next();
  if (!list_parameter(scores)) return std::nullopt;
  std::optional<std::vector<ScoringMethod>> methods = parse_score_list(scores.object);
  if (!methods) return std::nullopt;
  arguments.request.methods = std::move(*methods);
  std::optional<std::vector<table::HeaderName>> columns = parse_columns(bound.next().object);
  if (!columns) return std::nullopt;
  arguments.request.table.header_names = std::move(*columns);
  // Labels as strings are read as the command line reads them in a CSV table.
  arguments.request.table.labels = table::LabelSpelling::Lenient;
  if (PyObject* keep = bound.next().object; keep != nullptr) {
    const int truth = PyObject_IsTrue(keep);
    if (truth < 0) return std::nullopt;
    arguments.request.keep_ids = truth == 1;
  }
  const std::optional<PyObject*> progress = progress_parameter(bound.next());
  if (!progress) return std::nullopt;
  arguments.progress = *progress;
  if (!parse_group_column(bound.next().object, arguments.request.table)) return std::nullopt;
  PyObject* confidence_column = bound.next().object;
  std::optional<std::optional<OwnColumnRequest>> own =
      parse_own_column(confidence_column, bound.next().object, arguments.request);
  if (!own) return std::nullopt;
  arguments.own = std::move(*own);
  return arguments;
}

PyObject* run_arrow_pass_impl(PyObject* module, ArrowPassArguments& arguments) {
  GilFreeCall call(arguments.progress);
  arguments.request.table.monitor = call.monitor();
  std::vector<std::string> header;
  Result<pipeline::QueryTable> table = call.run([&]() -> Result<pipeline::QueryTable> {
    Result<pipeline::QueryTable> read =
        arrow::run_arrow_query_pass(arguments.stream, arguments.request, header);
    if (!read) return read;
    if (Result<void> added = add_own_column(arguments.own, *read); !added) {
      return std::unexpected(std::move(added.error()));
    }
    return read;
  });
  if (!table) {
    if (call.raised()) return nullptr;
    return raise_core_error(module, table.error(), TableContext{header, std::nullopt});
  }
  ReadReport report;
  report.header = header;
  report.pass = wrap_pass(module, {std::move(*table), {}, std::nullopt, {}});
  if (!report.pass) return nullptr;
  return read_outcome(module, std::move(report));
}

PyObject* run_arrow_pass(PyObject* module, BoundArguments& bound) {
  std::optional<ArrowPassArguments> arguments = convert_arguments(bound);
  if (!arguments) return nullptr;
  return run_arrow_pass_impl(module, *arguments);
}

}  // namespace

const NativeFunction kRunArrowPass{kSignature, run_arrow_pass};

}  // namespace ferolin::binding::native
