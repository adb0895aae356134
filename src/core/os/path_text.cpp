#include "core/os/path_text.h"

namespace ferolin::os {

std::optional<std::string> path_for_system(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(path);
}

}  // namespace ferolin::os
