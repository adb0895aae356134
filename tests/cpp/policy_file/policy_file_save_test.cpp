#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

#include "core/policy_file/policy_json.h"
#include "support/policy_test_support.h"

namespace ferolin::policy_file {
namespace {

using test::read_file;
using test::ScratchDir;
using test::write_file;

// Sets the umask for the life of the object.
class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
  ~UmaskGuard() { ::umask(old_); }
  UmaskGuard(const UmaskGuard&) = delete;
  UmaskGuard& operator=(const UmaskGuard&) = delete;

 private:
  mode_t old_;
};

struct stat status_of(const std::string& path) {
  struct stat info{};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

std::string expected_text() { return *policy_file::policy_to_json_text(test::sample_policy()); }

std::string save_message(const std::string& path) {
  const Result<void> saved = write_json(test::sample_policy(), path);
  return saved ? "saved" : saved.error().message();
}

TEST(PolicyStoreTest, SaveThenLoadGivesThePolicyBack) {
  ScratchDir dir;
  const std::string path = dir.file("policy.json");
  PolicyFile policy = test::sample_policy();
  policy.group_col = "batch";
  policy.group_thresholds = {{"b1", 0.25}};
  ASSERT_TRUE(write_json(policy, path).has_value());
  const Result<PolicyFile> loaded = read_policy(path);
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  test::expect_same_policy(*loaded, policy);
  EXPECT_EQ(dir.listing(), "policy.json ");
}

TEST(PolicyStoreTest, NewFileModeFollowsTheUmask) {
  const struct {
    mode_t umask;
    mode_t mode;
  } cases[] = {{022, 0644}, {077, 0600}, {0, 0666}};
  for (const auto& c : cases) {
    ScratchDir dir;
    const UmaskGuard guard(c.umask);
    ASSERT_EQ(save_message(dir.file("new.json")), "saved");
    EXPECT_EQ(status_of(dir.file("new.json")).st_mode & 07777, c.mode) << std::oct << c.umask;
  }
}

TEST(PolicyStoreTest, ReplacedFileKeepsItsPermissionBits) {
  for (const mode_t mode : {0600, 0640, 0604, 0660}) {
    ScratchDir dir;
    const std::string path = dir.file("policy.json");
    write_file(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    const UmaskGuard guard(077);
    ASSERT_EQ(save_message(path), "saved");
    EXPECT_EQ(status_of(path).st_mode & 07777, mode) << std::oct << mode;
    EXPECT_EQ(read_file(path), expected_text());
  }
}

// A write that fails part-way (here at a file size limit) leaves the old
// policy byte for byte, and no temporary file behind.
TEST(PolicyStoreTest, FailedWriteLeavesOldFileUntouched) {
  ScratchDir dir;
  const std::string old_path = dir.file("old.json");
  const std::string old_text = "{\n  \"version\": \"0.1.0\"\n}";
  write_file(old_path, old_text);
  for (const std::string& path : {old_path, dir.file("new.json")}) {
    const std::string message = test::run_in_child([&] {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{16, 16};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
      const Result<void> saved = write_json(test::sample_policy(), path);
      if (saved) return std::string("saved");
      const bool write = saved.error().kind == ErrorKind::Write;
      return saved.error().message() + (write ? " writing " : " (not a Write error) ") +
             saved.error().path;
    });
    EXPECT_EQ(message, "JSON error: File too large (os error 27) writing " + path);
    EXPECT_EQ(read_file(old_path), old_text);
    EXPECT_EQ(dir.listing(), "old.json ");
  }
}

TEST(PolicyStoreTest, SymbolicLinksStayLinks) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
  write_file(dir.file("target.json"), "old");
  ASSERT_EQ(::chmod(dir.file("target.json").c_str(), 0640), 0);
  const struct {
    std::string link;
    std::string points_to;
    std::string target;
  } cases[] = {
      {dir.file("link.json"), "target.json", dir.file("target.json")},
      {dir.file("sub/link.json"), "../link.json", dir.file("target.json")},
      {dir.file("dangling.json"), "sub/created.json", dir.file("sub/created.json")},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(::symlink(c.points_to.c_str(), c.link.c_str()), 0);
    ASSERT_EQ(save_message(c.link), "saved") << c.link;
    EXPECT_TRUE(S_ISLNK(status_of(c.link).st_mode)) << c.link;
    EXPECT_EQ(read_file(c.target), expected_text()) << c.link;
  }
  EXPECT_EQ(status_of(dir.file("target.json")).st_mode & 07777, 0640);
  EXPECT_EQ(dir.listing(), "dangling.json link.json sub target.json ");
}

TEST(PolicyStoreTest, SharedHardLinkIsWrittenInPlace) {
  ScratchDir dir;
  write_file(dir.file("a.json"), "old contents that are longer than the new ones? no");
  ASSERT_EQ(::link(dir.file("a.json").c_str(), dir.file("b.json").c_str()), 0);
  const ino_t inode = status_of(dir.file("a.json")).st_ino;
  ASSERT_EQ(save_message(dir.file("a.json")), "saved");
  EXPECT_EQ(status_of(dir.file("a.json")).st_ino, inode);
  EXPECT_EQ(read_file(dir.file("b.json")), expected_text());
}

TEST(PolicyStoreTest, FifoIsWrittenInPlace) {
  ScratchDir dir;
  const std::string fifo = dir.file("policy.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_file(fifo); });
  const std::string message = save_message(fifo);
  reader.join();
  EXPECT_EQ(message, "saved");
  EXPECT_EQ(received, expected_text());
  EXPECT_TRUE(S_ISFIFO(status_of(fifo).st_mode));
}

TEST(PolicyStoreTest, PathsThatCannotBeWritten) {
  ScratchDir dir;
  write_file(dir.file("policy.json"), "old");
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {dir.path(), "IO error: Is a directory (os error 21)"},
      {dir.file("new/"), "IO error: Is a directory (os error 21)"},
      {dir.file("missing/policy.json"), "IO error: No such file or directory (os error 2)"},
      {dir.file("policy.json/x"), "IO error: Not a directory (os error 20)"},
      {"", "IO error: No such file or directory (os error 2)"},
      {dir.file("policy.json") + std::string("\0.new", 5), "IO error: path contains a NUL byte"},
  };
  for (const auto& c : cases) EXPECT_EQ(save_message(c.path), c.message) << c.path;
  EXPECT_EQ(read_file(dir.file("policy.json")), "old");
  EXPECT_EQ(dir.listing(), "policy.json ");
}

// What an unprivileged process sees: run as "nobody" when the tests run as
// root, since root may write anything.
TEST(PolicyStoreTest, PermissionsAreThoseOfWritingInPlace) {
  ScratchDir dir;
  const std::string locked = dir.file("locked");
  const std::string open = dir.file("open");
  for (const std::string& sub : {locked, open}) ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
  write_file(locked + "/writable.json", "old");
  write_file(locked + "/readonly.json", "old");
  write_file(open + "/foreign.json", "old");
  write_file(open + "/own_readonly.json", "old");
  write_file(open + "/own.json", "old");
  const bool root = ::geteuid() == 0;
  const uid_t user = root ? 65534 : ::geteuid();
  const gid_t group = root ? 65534 : ::getegid();
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod((locked + "/writable.json").c_str(), 0666), 0);
  ASSERT_EQ(::chmod((locked + "/readonly.json").c_str(), 0444), 0);
  ASSERT_EQ(::chmod((open + "/foreign.json").c_str(), 0666), 0);
  ASSERT_EQ(::chown((open + "/own_readonly.json").c_str(), user, group), 0);
  ASSERT_EQ(::chmod((open + "/own_readonly.json").c_str(), 0444), 0);
  ASSERT_EQ(::chown((open + "/own.json").c_str(), user, group), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
  const ino_t writable_inode = status_of(locked + "/writable.json").st_ino;
  const ino_t own_inode = status_of(open + "/own.json").st_ino;

  const std::string answers = test::run_in_child([&] {
    if (root && (::setgid(group) != 0 || ::setuid(user) != 0)) return std::string("no setuid");
    std::string text;
    for (const char* name : {"/writable.json", "/readonly.json", "/new.json"}) {
      text += save_message(locked + name) + "\n";
    }
    for (const char* name : {"/foreign.json", "/own_readonly.json", "/own.json", "/new.json"}) {
      text += save_message(open + name) + "\n";
    }
    return text;
  });
  if (answers == "no setuid") GTEST_SKIP() << "cannot run as an unprivileged user";
  EXPECT_EQ(answers,
            "saved\n"
            "IO error: Permission denied (os error 13)\n"
            "IO error: Permission denied (os error 13)\n"
            "saved\n"
            "IO error: Permission denied (os error 13)\n"
            "saved\n"
            "saved\n");
  EXPECT_EQ(read_file(locked + "/writable.json"), expected_text());
  EXPECT_EQ(status_of(locked + "/writable.json").st_ino, writable_inode);
  EXPECT_EQ(read_file(locked + "/readonly.json"), "old");
  // A read-only file stays refused even where it could be replaced.
  EXPECT_EQ(read_file(open + "/own_readonly.json"), "old");
  // A file of another owner is written in place, so it keeps its owner.
  EXPECT_EQ(read_file(open + "/foreign.json"), expected_text());
  EXPECT_EQ(status_of(open + "/foreign.json").st_uid, ::geteuid());
  // A file of its own is replaced, and a new one made whole, without the
  // privilege of linking a file by its descriptor.
  for (const char* name : {"/own.json", "/new.json"}) {
    EXPECT_EQ(read_file(open + name), expected_text()) << name;
    EXPECT_EQ(status_of(open + name).st_uid, user) << name;
  }
  EXPECT_NE(status_of(open + "/own.json").st_ino, own_inode);
  ASSERT_EQ(::chmod(locked.c_str(), 0755), 0);
  EXPECT_EQ(::access((locked + "/new.json").c_str(), F_OK), -1);
}

}  // namespace
}  // namespace ferolin::policy_file
