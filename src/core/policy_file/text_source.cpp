#include "core/policy_file/text_source.h"

#include <unistd.h>

#include <cerrno>

namespace ferolin::policy_file {
namespace {

// Large enough that a small policy file takes one read.
constexpr std::size_t kBlockSize = 64 * 1024;

}  // namespace

TextSource::TextSource(std::span<const char> bytes)
    : next_(bytes.data()), limit_(bytes.data() + bytes.size()), finished_(true) {}

TextSource::TextSource(int fd) : fd_(fd), buffer_(kBlockSize) { next_ = limit_ = buffer_.data(); }

bool TextSource::refill() {
  // After the end or an error, reading again could block on a terminal or
  // pipe, or hide the error.
  if (finished_) return false;
  while (true) {
    const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
    if (n > 0) {
      next_ = buffer_.data();
      limit_ = next_ + n;
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) read_error_ = errno;
    finished_ = true;
    return false;
  }
}

}  // namespace ferolin::policy_file
