// Linux system calls made directly, not through their C library wrappers:
// glibc declares getrandom only from 2.25, memfd_create from 2.27 and
// renameat2 from 2.28, and a module built to run on older systems (glibc
// 2.17) must not need them. On a kernel without the call each fails with
// ENOSYS, and each caller keeps its own way around that.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace ferolin::os {

// Returns the number of random bytes the kernel wrote to `buffer` (up to
// `size`), or -1 with errno set (ENOSYS before Linux 3.17, EINTR).
[[nodiscard]] ssize_t kernel_random_bytes(void* buffer, std::size_t size);

// Returns 0 once `from` (relative to the directory `from_directory`) is
// renamed to `to`, or -1 with errno set: EEXIST when `to` exists, EINVAL
// where the file system cannot rename without replacing, ENOSYS before
// Linux 3.15.
[[nodiscard]] int rename_without_replacing(int from_directory, const char* from,
                                           int to_directory, const char* to);

// Returns a new close-on-exec descriptor of an anonymous file in memory
// named `name` (for /proc only), or -1 with errno set (ENOSYS before
// Linux 3.17).
[[nodiscard]] int memory_file(const char* name);

}  // namespace ferolin::os
