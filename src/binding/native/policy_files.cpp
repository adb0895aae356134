// read_policy(path), write_policy(path, policy, extra=None) and
// policy_text(policy, extra=None): policy files with their group fields,
// and with extra keys (what a calibration rests on) written through the
// core's writer, so that a file is replaced whole or not at all as
// ferolin.save_policy replaces it.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"
#include "binding/common/policy_dicts.h"
#include "binding/native/core_errors.h"
#include "binding/native/functions.h"
#include "binding/native/own_policy.h"
#include "binding/native/pass_access.h"
#include "binding/native/policy_groups.h"
#include "core/policy_file/policy_json.h"

namespace ferolin::binding::native {

PyRef grouped_policy_to_dict(const PolicyFile& policy) {
  PyRef dict = policy_to_dict(policy);
  if (!dict) return {};
  PyRef group_col = policy.group_col ? text(*policy.group_col) : PyRef::borrow(Py_None);
  if (!group_col || PyDict_SetItemString(dict.get(), "group_col", group_col.get()) < 0) return {};
  PyRef thresholds = PyRef::borrow(Py_None);
  if (policy.group_thresholds) {
    thresholds = PyRef::steal(PyDict_New());
    if (!thresholds) return {};
    for (const auto& [label, threshold] : *policy.group_thresholds) {
      PyRef key = text(label);
      PyRef value = PyRef::steal(PyFloat_FromDouble(threshold));
      if (!key || !value || PyDict_SetItem(thresholds.get(), key.get(), value.get()) < 0) return {};
    }
  }
  if (PyDict_SetItemString(dict.get(), "group_thresholds", thresholds.get()) < 0) return {};
  if (!set_confidence_column_keys(dict.get(), policy)) return {};
  return dict;
}

std::optional<std::optional<GroupThresholds>> group_thresholds_parameter(PyObject* object,
                                                                         const char* parameter) {
  if (object == nullptr || object == Py_None) return std::optional<GroupThresholds>();
  if (!dict_parameter(object, parameter)) return std::nullopt;
  GroupThresholds thresholds;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t position = 0;
  while (PyDict_Next(object, &position, &key, &value)) {
    const std::optional<std::string_view> label = to_text(key);
    const std::optional<double> threshold = label ? to_double(value) : std::nullopt;
    if (!threshold) {
      add_processing_note(parameter);
      return std::nullopt;
    }
    thresholds.insert_or_assign(std::string(*label), *threshold);
  }
  return std::optional(std::move(thresholds));
}

std::optional<PolicyFile> grouped_dict_to_policy(PyObject* dict) {
  std::optional<EightMethodDict> eight = eight_method_dict(dict);
  if (!eight) return std::nullopt;
  std::optional<PolicyFile> policy = dict_to_policy(eight->dict.get());
  if (!policy) return std::nullopt;
  policy->confidence_column = std::move(eight->column);
  const std::optional<PyRef> group_col = dict_item(dict, "group_col");
  if (!group_col) return std::nullopt;
  if (*group_col && group_col->get() != Py_None) {
    const std::optional<std::string_view> name = text_parameter(group_col->get(), "group_col");
    if (!name) return std::nullopt;
    policy->group_col = std::string(*name);
  }
  const std::optional<PyRef> thresholds = dict_item(dict, "group_thresholds");
  if (!thresholds) return std::nullopt;
  std::optional<std::optional<GroupThresholds>> groups =
      group_thresholds_parameter(thresholds->get(), "group_thresholds");
  if (!groups) return std::nullopt;
  policy->group_thresholds = std::move(*groups);
  return policy;
}

namespace {

// {key: JSON text} to extra keys, in the dict's order.
std::optional<std::vector<policy_file::ExtraKey>> extra_keys(PyObject* object) {
  std::vector<policy_file::ExtraKey> keys;
  if (object == nullptr || object == Py_None) return keys;
  if (!dict_parameter(object, "extra")) return std::nullopt;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t position = 0;
  while (PyDict_Next(object, &position, &key, &value)) {
    const std::optional<std::string_view> name = to_text(key);
    const std::optional<std::string_view> json = name ? to_text(value) : std::nullopt;
    if (!json) {
      add_processing_note("extra");
      return std::nullopt;
    }
    keys.push_back({std::string(*name), std::string(*json)});
  }
  return keys;
}

struct PolicyArguments {
  PolicyFile policy;
  std::vector<policy_file::ExtraKey> extra;
};

std::optional<PolicyArguments> policy_arguments(PyObject* policy, PyObject* extra) {
  if (!dict_parameter(policy, "policy")) return std::nullopt;
  std::optional<PolicyFile> converted = grouped_dict_to_policy(policy);
  if (!converted) {
    add_processing_note("policy");
    return std::nullopt;
  }
  std::optional<std::vector<policy_file::ExtraKey>> keys = extra_keys(extra);
  if (!keys) return std::nullopt;
  return PolicyArguments{std::move(*converted), std::move(*keys)};
}

// Raises the check-in's exception, or ValueError for a policy that cannot be
// written as given, or CoreError (a RuntimeError with the text that
// ferolin.load_policy and ferolin.save_policy show) with the failure's facts.
PyObject* policy_error(PyObject* module, const FerolinError& error, const GilFreeCall& call) {
  if (call.raised() && PyErr_Occurred()) return nullptr;
  if (error.kind == ErrorKind::InvalidArgument) return raise_value_error(error.message());
  return raise_core_error(module, error);
}

PyObject* read_policy(PyObject* module, BoundArguments& arguments) {
  const std::optional<std::string_view> path = text_parameter(arguments.next());
  if (!path) return nullptr;
  GilFreeCall call;
  Result<PolicyFile> policy = call.run([&] {
    return policy_file::read_policy(*path, call.interrupt_check(),
                                    policy_file::PolicyMethods::WithConfidenceColumn);
  });
  if (!policy) return policy_error(module, policy.error(), call);
  return grouped_policy_to_dict(*policy).release();
}

// Returns the policy and extra keys of the next two arguments.
std::optional<PolicyArguments> next_policy_arguments(BoundArguments& arguments) {
  PyObject* policy = arguments.next().object;
  return policy_arguments(policy, arguments.next().object);
}

PyObject* write_policy(PyObject* module, BoundArguments& arguments) {
  const std::optional<std::string_view> path = text_parameter(arguments.next());
  if (!path) return nullptr;
  const std::optional<PolicyArguments> policy = next_policy_arguments(arguments);
  if (!policy) return nullptr;
  GilFreeCall call;
  Result<void> written = call.run([&] {
    return policy_file::write_json(policy->policy, *path, policy->extra, call.interrupt_check());
  });
  if (!written) return policy_error(module, written.error(), call);
  Py_RETURN_NONE;
}

PyObject* policy_text(PyObject*, BoundArguments& arguments) {
  const std::optional<PolicyArguments> policy = next_policy_arguments(arguments);
  if (!policy) return nullptr;
  Result<std::string> written = policy_file::policy_to_json_text(policy->policy, policy->extra);
  if (!written) return native_error(std::move(written.error()));
  return text(*written).release();
}

constexpr std::array<const char*, 1> kReadParameters = {"path"};
constexpr std::array<const char*, 3> kWriteParameters = {"path", "policy", "extra"};
constexpr std::array<const char*, 2> kTextParameters = {"policy", "extra"};

}  // namespace

const NativeFunction kReadPolicy{{"read_policy", kReadParameters, 1}, read_policy};
const NativeFunction kWritePolicy{{"write_policy", kWriteParameters, 2}, write_policy};
const NativeFunction kPolicyText{{"policy_text", kTextParameters, 1}, policy_text};

}  // namespace ferolin::binding::native
