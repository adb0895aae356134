// How many threads one read of a table may use: FEROLIN_NUM_THREADS when set
// to a positive number, otherwise the number of CPUs this process may run on.
#pragma once

namespace ferolin::os {

// Returns the number of threads for reading one table, at least 1.
[[nodiscard]] unsigned reading_threads();

}  // namespace ferolin::os
