// The callers of the direct system calls on a kernel that lacks them: each
// case runs in a child process whose seccomp filter fails the call with
// ENOSYS, as Linux before 3.15 (renameat2) or 3.17 (getrandom,
// memfd_create) would.
#include "core/os/syscalls.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <string>

#include "core/keyed_hash.h"
#include "core/os/scratch_file.h"
#include "core/os/temp_file.h"
#include "support/policy_test_support.h"

namespace ferolin::os {
namespace {

// Makes system call `number` fail with ENOSYS in this process from now on.
bool fail_with_enosys(int number) {
  sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(number), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

// Returns the exit status of a child that runs `check` with system call
// `number` failing: 0 when it held, 1 when it did not, 2 when no filter
// could be set (then the case is skipped).
int status_without(int number, const std::function<bool()>& check) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(!fail_with_enosys(number) ? 2 : check() ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

TEST(SyscallsTest, MissingGetrandomFallsBackToAKeyOfItsOwn) {
  const int status = status_without(SYS_getrandom, [] {
    std::byte buffer[8];
    if (kernel_random_bytes(buffer, sizeof buffer) != -1 || errno != ENOSYS) return false;
    const SipKey first = draw_sip_key();
    const SipKey second = draw_sip_key();
    return first.k0 != second.k0 || first.k1 != second.k1;
  });
  if (status == 2) GTEST_SKIP() << "no seccomp filter allowed here";
  EXPECT_EQ(status, 0);
}

TEST(SyscallsTest, MissingRenameat2FallsBackToALinkThatNeverReplaces) {
  test::ScratchDir dir;
  test::write_file(dir.file("taken"), "old");
  const int status = status_without(SYS_renameat2, [&] {
    const UniqueFd directory(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    TempFile taken, fresh;
    if (rename_without_replacing(directory.get(), "taken", directory.get(), "moved") != -1 ||
        errno != ENOSYS) {
      return false;
    }
    return taken.create_named(directory.get(), "taken", 0600) == 0 &&
           taken.link_as_new("taken") == EEXIST &&
           fresh.create_named(directory.get(), "fresh", 0600) == 0 &&
           fresh.link_as_new("fresh") == 0;
  });
  if (status == 2) GTEST_SKIP() << "no seccomp filter allowed here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::read_file(dir.file("taken")), "old");
  EXPECT_EQ(dir.listing(), "fresh taken ");
}

TEST(SyscallsTest, MissingMemfdCreateFallsBackToAnUnnamedFileInTmpdir) {
  test::ScratchDir dir;
  const int status = status_without(SYS_memfd_create, [&] {
    if (memory_file("probe") != -1 || errno != ENOSYS) return false;
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const UniqueFd scratch(unnamed_scratch_file());
    char back[6] = {};
    return scratch.valid() && ::write(scratch.get(), "spool", 5) == 5 &&
           ::pread(scratch.get(), back, 5, 0) == 5 && std::string(back) == "spool" &&
           dir.listing().empty();
  });
  if (status == 2) GTEST_SKIP() << "no seccomp filter allowed here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(dir.listing(), "");
}

}  // namespace
}  // namespace ferolin::os
