// How many threads a read of one table may use: the caller's request, else
// the FEROLIN_NUM_THREADS environment variable (as POLARS_MAX_THREADS and
// OMP_NUM_THREADS do elsewhere), else the processors this process may run on.
#pragma once

#include <cstddef>
#include <optional>

namespace ferolin::os {

// Returns the number of threads to use, at least 1: `requested` where given
// and above 0; else FEROLIN_NUM_THREADS where it holds a whole number above
// 0 (anything else there is ignored); else 1 under a limit of the address
// space (RLIMIT_AS); else the number of processors this process may run on.
[[nodiscard]] std::size_t thread_count(std::optional<std::size_t> requested = std::nullopt);

}  // namespace ferolin::os
