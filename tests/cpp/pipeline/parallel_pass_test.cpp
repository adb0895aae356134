#include "core/pipeline/parallel_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

namespace ferolin::pipeline {
namespace {

// The merging thread checks in with the monitor while a part is still
// being read, not only once a part is merged: a Ctrl-C stops a read whose
// parts are slow. The first part's read waits until the monitor is
// called (at most a few seconds, which the old behaviour took).
TEST(ParallelPass, ChecksInWhileAPartIsStillRead) {
  std::string csv = "query_id,candidate_id,rank,score\n";
  for (int i = 0; i < 400; ++i) csv += "q" + std::to_string(i) + ",c,1,0.5\n";
  const std::uint64_t first_data_byte = csv.find('\n') + 1;

  std::mutex mutex;
  std::condition_variable released_changed;
  bool released = false;
  bool waited_out = false;
  const table::ReadAt read_at = [&](std::uint64_t offset,
                                    std::span<char> into) -> Result<std::size_t> {
    if (offset == first_data_byte) {
      std::unique_lock lock(mutex);
      if (!released_changed.wait_for(lock, std::chrono::seconds(5), [&] { return released; })) {
        waited_out = true;
      }
    }
    const std::size_t n =
        offset < csv.size() ? std::min(into.size(), static_cast<std::size_t>(csv.size() - offset))
                            : 0;
    std::memcpy(into.data(), csv.data() + offset, n);
    return n;
  };
  table::TableOptions options;
  options.monitor.check = [&](const os::ReadProgress&) -> Result<void> {
    {
      const std::lock_guard lock(mutex);
      released = true;
    }
    released_changed.notify_all();
    return std::unexpected(FerolinError::io("stopped by the caller"));
  };
  bool given = false;
  auto header = table::TableRecords::from_chunks(
      [&]() -> Result<std::string_view> {
        if (std::exchange(given, true)) return std::string_view();
        return std::string_view(csv);
      },
      csv.size());
  ASSERT_TRUE(header.has_value());
  const Result<TableSummaries> read =
      summarize_in_parts(std::move(*header), read_at, csv.size(), options,
                         scoring::needs_of(ScoringMethod::MaxProb), scoring::TopIds::Drop,
                         {.threads = 2, .part_bytes = 1024});
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().message(), FerolinError::io("stopped by the caller").message());
  EXPECT_FALSE(waited_out);
}

}  // namespace
}  // namespace ferolin::pipeline
