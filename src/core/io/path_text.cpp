#include "core/io/path_text.h"

namespace ferolin::io {

Result<std::string> path_for_system(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return std::unexpected(FerolinError::io("path contains a NUL byte"));
  }
  return std::string(path);
}

}  // namespace ferolin::io
