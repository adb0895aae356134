#include "core/pipeline/part_queue.h"

#include <algorithm>
#include <utility>

namespace ferolin::pipeline {

std::optional<std::size_t> PartQueue::claim() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock,
                [&] { return stopped_ || next_ >= done_.size() || next_ < merged_ + window_; });
  if (stopped_ || next_ >= done_.size()) return std::nullopt;
  return next_++;
}

void PartQueue::deliver(std::size_t part, PartSummary summary) {
  {
    const std::lock_guard lock(mutex_);
    if (part < merged_) return;
    done_[part] = std::move(summary);
  }
  changed_.notify_all();
}

std::optional<PartSummary> PartQueue::take(std::size_t part, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, wait, [&] { return done_[part].has_value(); })) return std::nullopt;
  PartSummary summary = std::move(*done_[part]);
  done_[part].reset();
  return summary;
}

void PartQueue::merged_before(std::size_t part) {
  {
    const std::lock_guard lock(mutex_);
    for (std::size_t p = merged_; p < part && p < done_.size(); ++p) done_[p].reset();
    merged_ = std::max(merged_, part);
    // Parts to be merged no more need not be read.
    next_ = std::max(next_, merged_);
  }
  changed_.notify_all();
}

void PartQueue::recycle(std::vector<EntropyTerm> terms) {
  if (terms.capacity() == 0) return;
  terms.clear();
  const std::lock_guard lock(mutex_);
  spare_terms_.push_back(std::move(terms));
}

std::vector<EntropyTerm> PartQueue::spare_terms() {
  const std::lock_guard lock(mutex_);
  if (spare_terms_.empty()) return {};
  std::vector<EntropyTerm> terms = std::move(spare_terms_.back());
  spare_terms_.pop_back();
  return terms;
}

void PartQueue::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

}  // namespace ferolin::pipeline
