#include "binding/common/args.h"

#include <string>
#include <vector>

namespace ferolin::binding {
namespace {

std::string function_label(const Signature& signature) {
  return std::string(signature.name) + "()";
}

bool raise_type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

bool raise_too_many_positional(const Signature& signature, Py_ssize_t given) {
  const std::size_t total = signature.parameters.size();
  std::string message = function_label(signature) + " takes ";
  if (signature.required == total) {
    // The word stays plural even for one parameter, as the message always has.
    message += std::to_string(total);
  } else {
    message += "from " + std::to_string(signature.required) + " to " + std::to_string(total);
  }
  message += " positional arguments but " + std::to_string(given) +
             (given == 1 ? " was given" : " were given");
  return raise_type_error(message);
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_name_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() == 2) {
        out += " and ";
      } else {
        out += i + 1 == names.size() ? ", and " : ", ";
      }
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

bool raise_missing(const Signature& signature, const std::vector<const char*>& missing) {
  return raise_type_error(function_label(signature) + " missing " + std::to_string(missing.size()) +
                          " required positional " +
                          (missing.size() == 1 ? "argument: " : "arguments: ") +
                          quoted_name_list(missing));
}

// Returns the index of the parameter named `keyword`, or -1.
Py_ssize_t parameter_index(const Signature& signature, PyObject* keyword) {
  for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
    if (PyUnicode_Check(keyword) &&
        PyUnicode_CompareWithASCIIString(keyword, signature.parameters[i]) == 0) {
      return static_cast<Py_ssize_t>(i);
    }
  }
  return -1;
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> bound) {
  const Py_ssize_t positional = nargs;
  const auto parameter_count = static_cast<Py_ssize_t>(signature.parameters.size());
  for (PyObject*& slot : bound) slot = nullptr;
  if (positional > parameter_count) return raise_too_many_positional(signature, positional);
  for (Py_ssize_t i = 0; i < positional; ++i) bound[static_cast<std::size_t>(i)] = args[i];

  const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
  for (Py_ssize_t k = 0; k < keyword_count; ++k) {
    PyObject* keyword = PyTuple_GetItem(kwnames, k);
    const Py_ssize_t index = parameter_index(signature, keyword);
    if (index < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", signature.name,
                   keyword);
      return false;
    }
    PyObject*& slot = bound[static_cast<std::size_t>(index)];
    if (slot != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", signature.name,
                   signature.parameters[static_cast<std::size_t>(index)]);
      return false;
    }
    slot = args[positional + k];
  }

  std::vector<const char*> missing;
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (bound[i] == nullptr) missing.push_back(signature.parameters[i]);
  }
  if (!missing.empty()) return raise_missing(signature, missing);
  return true;
}

std::optional<BoundArguments> BoundArguments::bind(const Signature& signature,
                                                   PyObject* const* args, Py_ssize_t nargs,
                                                   PyObject* kwnames) {
  BoundArguments bound;
  bound.signature_ = &signature;
  const std::span<PyObject*> slots(bound.bound_.data(), signature.parameters.size());
  if (!bind_arguments(signature, args, nargs, kwnames, slots)) return std::nullopt;
  return bound;
}

}  // namespace ferolin::binding
