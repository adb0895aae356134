#include "core/os/scratch_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/os/syscalls.h"

namespace ferolin::os {
namespace {

std::string scratch_folder() {
  const char* folder = ::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

int unnamed_file_in(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // Before Linux 3.11, or on a file system without O_TMPFILE: a named file,
  // unlinked before anything is written to it.
  std::string name = folder + "/.ferolin-scratch-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

}  // namespace

int unnamed_scratch_file() {
  const int fd = memory_file("ferolin-output");
  // EINVAL: a kernel that knows the call but not its flag.
  if (fd >= 0 || (errno != ENOSYS && errno != EINVAL)) return fd;
  return unnamed_file_in(scratch_folder());
}

}  // namespace ferolin::os
