// PartQueue: hands the parts of a parallel read to the reading threads and
// their summaries back to the thread that merges them in file order, with
// at most a window of parts read ahead of the merge (memory stays bounded).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include "core/pipeline/part_summary.h"

namespace ferolin::pipeline {

class PartQueue {
 public:
  PartQueue(std::size_t parts, std::size_t window) : done_(parts), window_(window) {}

  // Returns the next part to read, waiting while the window is full; nothing
  // once every part is handed out or the read is stopped.
  [[nodiscard]] std::optional<std::size_t> claim();

  // Hands over the summary of part `part`.
  void deliver(std::size_t part, PartSummary summary);

  // Returns the summary of part `part`, waiting for it at most `wait`;
  // nothing when it has not come by then.
  [[nodiscard]] std::optional<PartSummary> take(std::size_t part, std::chrono::milliseconds wait);

  // Parts before `part` are merged (or read again as part of another): the
  // window moves on, and their summaries, delivered or to come, are dropped.
  void merged_before(std::size_t part);

  // Ends the read: claim() hands out nothing more, and the reading threads
  // stop at their next chunk.
  void stop();

  [[nodiscard]] const std::atomic<bool>& stopped() const { return stopped_; }

  // Keeps the memory of a merged part's entropy terms for a part to come:
  // it is neither given back to the system by the merging thread nor
  // faulted in again by a reading one.
  void recycle(std::vector<EntropyTerm> terms);
  // Returns an empty list of terms, with the memory of a merged part's
  // where there is one.
  [[nodiscard]] std::vector<EntropyTerm> spare_terms();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::optional<PartSummary>> done_;
  std::size_t window_;
  std::size_t next_ = 0;
  std::size_t merged_ = 0;
  std::atomic<bool> stopped_ = false;
  std::vector<std::vector<EntropyTerm>> spare_terms_;
};

}  // namespace ferolin::pipeline
