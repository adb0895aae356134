// Paths handed to the operating system, which reads them up to a NUL byte.
#pragma once

#include <string>
#include <string_view>

#include "core/error.h"

namespace ferolin::io {

// Returns `path` as a NUL-terminated string, or Io "path contains a NUL
// byte" when it holds one, so that a path is never cut short.
[[nodiscard]] Result<std::string> path_for_system(std::string_view path);

}  // namespace ferolin::io
