#include "core/policy_file/text_source.h"

#include <utility>

namespace ferolin::policy_file {

TextSource::TextSource(std::span<const char> bytes)
    : next_(bytes.data()), limit_(bytes.data() + bytes.size()), finished_(true) {}

TextSource::TextSource(os::FileReader reader) : reader_(std::move(reader)) {}

bool TextSource::refill() {
  // After the end or an error, reading again could block on a terminal or
  // pipe, or hide the error.
  if (finished_) return false;
  Result<std::string_view> chunk = reader_->read();
  if (chunk && !chunk->empty()) {
    next_ = chunk->data();
    limit_ = next_ + chunk->size();
    return true;
  }
  if (!chunk) read_error_ = std::move(chunk.error().detail);
  finished_ = true;
  return false;
}

}  // namespace ferolin::policy_file
