// Reading one table with several threads: its data is cut into parts at
// line starts, each part is summarised on a thread of its own, and the
// parts' summaries are merged in file order, so that the summaries, the row
// count and the failure are those of one read front to back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/error.h"
#include "core/pipeline/table_summaries.h"
#include "core/table/chunk_split.h"
#include "core/table/table_options.h"
#include "core/table/table_records.h"

namespace ferolin::pipeline {

// Parts of 8 MiB: the merge and the part's start cost little beside
// reading them, and few are held at once (twice the threads at most).
inline constexpr std::uint64_t kPartBytes = std::uint64_t{8} << 20;

struct ParallelReading {
  std::size_t threads = 1;
  std::uint64_t part_bytes = kPartBytes;
};

// Returns the summaries of the data records of `header` (a table with its
// header read, as TableRecords::open or from_chunks leave it), whose bytes,
// `size` in all, `read_at` reads; `options` are those it was opened with.
// The same as summarize_rows() over `header`, which it is when one thread
// or one part remains. The monitor is called after each part merged.
[[nodiscard]] Result<TableSummaries> summarize_in_parts(table::TableRecords header,
                                                        const table::ReadAt& read_at,
                                                        std::uint64_t size,
                                                        const table::TableOptions& options,
                                                        const scoring::SummaryNeeds& needs,
                                                        scoring::TopIds ids,
                                                        const ParallelReading& reading);

// Returns summarize_rows() of the table at `path` read with `options`, by
// os::thread_count(threads) threads where it is a regular file of more than
// one part; a pipe, a FIFO and a single thread read it as one stream.
[[nodiscard]] Result<TableSummaries> summarize_table(std::string_view path,
                                                     table::TableOptions options,
                                                     const scoring::SummaryNeeds& needs,
                                                     scoring::TopIds ids,
                                                     std::optional<std::size_t> threads);

}  // namespace ferolin::pipeline
