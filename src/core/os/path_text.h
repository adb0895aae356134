// Paths handed to the operating system, which reads them up to a NUL byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ferolin::os {

// The description of a path refused for holding a NUL byte; the table
// reader reports it as a CSV error, the policy files as an IO error.
inline constexpr std::string_view kNulInPath = "path contains a NUL byte";

// Returns `path` as a NUL-terminated string, or std::nullopt when it holds a
// NUL byte, so that a path is never cut short.
[[nodiscard]] std::optional<std::string> path_for_system(std::string_view path);

}  // namespace ferolin::os
