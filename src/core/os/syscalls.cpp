#include "core/os/syscalls.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace ferolin::os {
namespace {

// RENAME_NOREPLACE of <linux/fs.h>, which old C library headers lack.
constexpr unsigned kRenameNoReplace = 1;
// MFD_CLOEXEC of <linux/memfd.h>, likewise.
constexpr unsigned kMemoryFileCloseOnExec = 1;

}  // namespace

ssize_t kernel_random_bytes(void* buffer, std::size_t size) {
  return ::syscall(SYS_getrandom, buffer, size, 0U);
}

int rename_without_replacing(int from_directory, const char* from, int to_directory,
                             const char* to) {
  return static_cast<int>(
      ::syscall(SYS_renameat2, from_directory, from, to_directory, to, kRenameNoReplace));
}

int memory_file(const char* name) {
  return static_cast<int>(::syscall(SYS_memfd_create, name, kMemoryFileCloseOnExec));
}

}  // namespace ferolin::os
