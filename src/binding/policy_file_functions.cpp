// load_policy(path) and save_policy(path, policy_dict): policy files.
#include <array>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/policy_dicts.h"
#include "binding/functions.h"
#include "core/policy_file/policy_json.h"

namespace ferolin::binding {
namespace {

constexpr std::array<const char*, 1> kLoadParameters = {"path"};
constexpr Signature kLoadSignature{"load_policy", kLoadParameters, 1};
constexpr std::array<const char*, 2> kSaveParameters = {"path", "policy_dict"};
constexpr Signature kSaveSignature{"save_policy", kSaveParameters, 2};

PyObject* load_policy_impl(std::string_view path) {
  Result<PolicyFile> policy = policy_file::read_policy(path);
  if (!policy) return map_err(std::move(policy.error()));
  return policy_to_dict(*policy).release();
}

PyObject* save_policy_impl(std::string_view path, const PolicyFile& policy) {
  Result<void> saved = policy_file::write_json(policy, path);
  if (!saved) return map_err(std::move(saved.error()));
  Py_RETURN_NONE;
}

}  // namespace

PyObject* load_policy(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 1> bound{};
    if (!bind_arguments(kLoadSignature, args, nargsf, kwnames, bound)) return nullptr;
    const std::optional<std::string_view> path = text_parameter(bound[0], "path");
    if (!path) return nullptr;
    return load_policy_impl(*path);
  });
}

PyObject* save_policy(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) {
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 2> bound{};
    if (!bind_arguments(kSaveSignature, args, nargsf, kwnames, bound)) return nullptr;
    const std::optional<std::string_view> path = text_parameter(bound[0], "path");
    if (!path) return nullptr;
    if (!dict_parameter(bound[1], "policy_dict")) return nullptr;
    // Nothing is written unless the whole dictionary converts.
    const std::optional<PolicyFile> policy = dict_to_policy(bound[1]);
    if (!policy) return nullptr;
    return save_policy_impl(*path, *policy);
  });
}

}  // namespace ferolin::binding
