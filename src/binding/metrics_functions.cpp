// aurc(curve) and eaurc(curve): summarise a list of curve dictionaries.
#include <array>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/curve_dicts.h"
#include "binding/common/errors.h"
#include "binding/functions.h"
#include "core/metrics/aurc.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 1> kCurveParameters = {"curve"};
constexpr Signature kAurcSignature{"aurc", kCurveParameters, 1};
constexpr Signature kEaurcSignature{"eaurc", kCurveParameters, 1};

using CurveMetric = double (*)(std::span<const RiskCoverageRow>);

PyObject* curve_metric(const Signature& signature, CurveMetric metric, PyObject* const* args,
                       Py_ssize_t nargsf, PyObject* kwnames) {
  std::array<PyObject*, 1> bound{};
  if (!bind_arguments(signature, args, nargsf, kwnames, bound)) return nullptr;
  if (!list_parameter(bound[0], "curve")) return nullptr;
  std::optional<std::vector<RiskCoverageRow>> curve = py_list_to_curve(bound[0]);
  if (!curve) return nullptr;
  return PyFloat_FromDouble(metric(*curve));
}

}  // namespace

PyObject* aurc(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded(module, [&] {
    return curve_metric(kAurcSignature, metrics::compute_aurc, args, nargsf, kwnames);
  });
}

PyObject* eaurc(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded(module, [&] {
    return curve_metric(kEaurcSignature, metrics::compute_eaurc, args, nargsf, kwnames);
  });
}

}  // namespace ferolin::binding
