// The functions of the private module ferolin_tools._native, each defined
// beside what it does; module.cpp lists them with their documentation.
#pragma once

#include "binding/native/native_function.h"

namespace ferolin::binding::native {

extern const NativeFunction kRunPass;
extern const NativeFunction kRunArrowPass;
extern const NativeFunction kWilsonUpperBound;
extern const NativeFunction kWilsonInterval;
extern const NativeFunction kReadPolicy;
extern const NativeFunction kWritePolicy;
extern const NativeFunction kPolicyText;
extern const NativeFunction kSupportedConfidenceLevel;
extern const NativeFunction kReadScoreTables;
extern const NativeFunction kMergePacked;
extern const NativeFunction kOutputOpen;

// Returns the new type OutputFile (output_open's result) for `module`, or
// nullptr with an exception set.
[[nodiscard]] PyObject* new_output_type(PyObject* module);

}  // namespace ferolin::binding::native
