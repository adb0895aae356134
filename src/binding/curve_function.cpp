// compute_curve(csv_path, score): the risk-coverage curve of a labelled table.
#include <array>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/curve_dicts.h"
#include "binding/common/errors.h"
#include "binding/common/method_names.h"
#include "binding/functions.h"
#include "core/pipeline/table_functions.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 2> kParameters = {"csv_path", "score"};
constexpr Signature kSignature{"compute_curve", kParameters, 2};

PyObject* compute_curve_impl(std::string_view csv_path, ScoringMethod method) {
  Result<std::vector<RiskCoverageRow>> curve = pipeline::curve_from_table(csv_path, method);
  if (!curve) return map_err(std::move(curve.error()));
  return curve_to_py_list(*curve).release();
}

}  // namespace

PyObject* compute_curve(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                        PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
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
