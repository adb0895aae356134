// calibrate(csv_path, score, error_rate, method="empirical",
// confidence_level=None): a trust policy from a labelled table.
#include <array>
#include <span>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/method_names.h"
#include "binding/common/policy_dicts.h"
#include "binding/functions.h"
#include "core/calibration/calibrate_policy.h"
#include "core/pipeline/table_functions.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 5> kParameters = {"csv_path", "score", "error_rate", "method",
                                                    "confidence_level"};
constexpr Signature kSignature{"calibrate", kParameters, 3};

struct CalibrateArguments {
  std::string_view csv_path;
  calibration::CalibrationRequest request;
};

PyObject* calibrate_impl(const CalibrateArguments& arguments) {
  Result<std::vector<RiskCoverageRow>> curve =
      pipeline::curve_from_table(arguments.csv_path, arguments.request.score);
  if (!curve) return map_err(std::move(curve.error()));
  Result<PolicyFile> policy = calibration::calibrate_policy(*curve, arguments.request);
  if (!policy) return map_err(std::move(policy.error()));
  return policy_to_dict(*policy).release();
}

// Converts the parameters in order, then parses the two method names; all of
// it happens before any file is touched.
std::optional<CalibrateArguments> convert_arguments(std::span<PyObject* const> bound) {
  const std::optional<std::string_view> csv_path = text_parameter(bound[0], "csv_path");
  if (!csv_path) return std::nullopt;
  const std::optional<std::string_view> score = text_parameter(bound[1], "score");
  if (!score) return std::nullopt;
  const std::optional<double> error_rate = float_parameter(bound[2], "error_rate");
  if (!error_rate) return std::nullopt;
  std::optional<std::string_view> method_name = std::string_view("empirical");
  if (bound[3] != nullptr) method_name = text_parameter(bound[3], "method");
  if (!method_name) return std::nullopt;
  const std::optional<OptionalFloat> level = optional_float_parameter(bound[4], "confidence_level");
  if (!level) return std::nullopt;
  const std::optional<ScoringMethod> scoring = parse_score(*score);
  if (!scoring) return std::nullopt;
  const std::optional<CalibrationMethod> method = parse_calibration_method(*method_name);
  if (!method) return std::nullopt;
  return CalibrateArguments{*csv_path, {*scoring, *error_rate, *method, level->value}};
}

}  // namespace

PyObject* calibrate(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 5> bound{};
    if (!bind_arguments(kSignature, args, nargsf, kwnames, bound)) return nullptr;
    const std::optional<CalibrateArguments> arguments = convert_arguments(bound);
    if (!arguments) return nullptr;
    return calibrate_impl(*arguments);
  });
}

}  // namespace ferolin::binding
