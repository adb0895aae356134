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

struct PathParts {
  std::string directory;  // "." for a bare name, "/" for a name in the root
  std::string name;       // empty when the path ends in a slash
};

// Returns `path` cut at its last slash.
[[nodiscard]] PathParts split_last_component(const std::string& path);

}  // namespace ferolin::os
