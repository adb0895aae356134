// compute_curve(csv_path, score): the risk-coverage curve of a labelled table.
#include <array>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/curve_dicts.h"
#include "binding/errors.h"
#include "binding/functions.h"
#include "binding/method_names.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 2> kParameters = {"csv_path", "score"};
constexpr Signature kSignature{"compute_curve", kParameters, 2};

PyObject* compute_curve_impl(std::string_view csv_path, ScoringMethod method) {
  (void)csv_path;
  (void)method;
  PyErr_SetString(PyExc_NotImplementedError, "compute_curve is not built yet");
  return nullptr;
}

}  // namespace

PyObject* compute_curve(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 2> bound{};
    if (!bind_arguments(kSignature, args, nargsf, kwnames, bound)) return nullptr;
    const std::optional<std::string_view> csv_path = text_parameter(bound[0], "csv_path");
    if (!csv_path) return nullptr;
    const std::optional<std::string_view> score = text_parameter(bound[1], "score");
    if (!score) return nullptr;
    const std::optional<ScoringMethod> method = parse_score(*score);
    if (!method) return nullptr;
    return compute_curve_impl(*csv_path, *method);
  });
}

}  // namespace ferolin::binding
