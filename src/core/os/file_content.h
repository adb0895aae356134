// FileContent: the bytes a save puts in place. Either a text in memory, or
// the first `spool_size` bytes of a file written beforehand: an output
// spooled to disk as it was produced, so that it never has to fit in memory.
#pragma once

#include <concepts>
#include <cstdint>
#include <string_view>

namespace ferolin::os {

struct FileContent {
  // A text (a string, a view, a literal) is content as it is.
  template <typename Text>
    requires std::convertible_to<const Text&, std::string_view>
  FileContent(const Text& text) : text(text) {}  // NOLINT(google-explicit-constructor)
  // Returns the content held by the open file `spool` (read with pread, so
  // its position does not matter).
  [[nodiscard]] static FileContent of_file(int spool, std::uint64_t size) {
    FileContent content{std::string_view{}};
    content.spool = spool;
    content.spool_size = size;
    return content;
  }

  [[nodiscard]] std::uint64_t size() const { return spool >= 0 ? spool_size : text.size(); }

  std::string_view text;
  int spool = -1;
  std::uint64_t spool_size = 0;
};

}  // namespace ferolin::os
