// apply_policy(csv_path, policy_dict): one decision per query of a table.
#include <array>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/policy_dicts.h"
#include "binding/decision_dicts.h"
#include "binding/functions.h"
#include "core/pipeline/table_functions.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 2> kParameters = {"csv_path", "policy_dict"};
constexpr Signature kSignature{"apply_policy", kParameters, 2};

PyObject* apply_policy_impl(std::string_view csv_path, const PolicyFile& policy) {
  Result<std::vector<AnnotationDecision>> decisions = pipeline::decide_table(csv_path, policy);
  if (!decisions) return map_err(std::move(decisions.error()));
  return decisions_to_py_list(*decisions).release();
}

}  // namespace

PyObject* apply_policy(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 2> bound{};
    if (!bind_arguments(kSignature, args, nargsf, kwnames, bound)) return nullptr;
    const std::optional<std::string_view> csv_path = text_parameter(bound[0], "csv_path");
    if (!csv_path) return nullptr;
    if (!dict_parameter(bound[1], "policy_dict")) return nullptr;
    // The policy is converted before the table is opened.
    const std::optional<PolicyFile> policy = dict_to_policy(bound[1]);
    if (!policy) return nullptr;
    return apply_policy_impl(*csv_path, *policy);
  });
}

}  // namespace ferolin::binding
