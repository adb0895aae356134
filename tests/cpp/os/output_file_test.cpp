#include "core/os/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/policy_test_support.h"

namespace ferolin::os {
namespace {

using test::read_file;
using test::ScratchDir;
using test::write_file;

// Writes `pieces` to `path` and commits (or abandons) the output.
void write_pieces(const std::string& path, int pieces, bool commit) {
  auto output = OutputFile::open(path);
  ASSERT_TRUE(output) << output.error().message();
  for (int i = 0; i < pieces; ++i) {
    ASSERT_TRUE((*output)->write("piece " + std::to_string(i) + "\n"));
    // Until committed, the target is as it was.
    if (i == 0 && ::access(path.c_str(), F_OK) == 0) {
      EXPECT_NE(read_file(path), "piece 0\n");
    }
  }
  if (commit) {
    ASSERT_TRUE((*output)->commit());
  } else {
    (*output)->abandon();
  }
}

TEST(OutputFileTest, CommitsWholeOrLeavesTheOldFile) {
  ScratchDir dir;
  const std::string expected = "piece 0\npiece 1\npiece 2\n";
  write_file(dir.file("old.tsv"), "old");
  ::chmod(dir.file("old.tsv").c_str(), 0664);
  ASSERT_EQ(::symlink("old.tsv", dir.file("link.tsv").c_str()), 0);
  write_pieces(dir.file("old.tsv"), 3, false);
  EXPECT_EQ(read_file(dir.file("old.tsv")), "old");
  write_pieces(dir.file("link.tsv"), 3, true);
  EXPECT_EQ(read_file(dir.file("old.tsv")), expected);
  struct stat info{};
  ASSERT_EQ(::lstat(dir.file("link.tsv").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(dir.file("old.tsv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0664U);

  const mode_t umask = ::umask(022);
  write_pieces(dir.file("new.tsv"), 3, true);
  ::umask(umask);
  ASSERT_EQ(::stat(dir.file("new.tsv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644U);
  EXPECT_EQ(read_file(dir.file("new.tsv")), expected);
  write_pieces(dir.file("never.tsv"), 2, false);
  EXPECT_EQ(dir.listing(), "link.tsv new.tsv old.tsv ");
}

TEST(OutputFileTest, HardLinkedFileIsRewrittenInPlace) {
  ScratchDir dir;
  write_file(dir.file("a.tsv"), std::string(100, 'o'));
  ASSERT_EQ(::link(dir.file("a.tsv").c_str(), dir.file("b.tsv").c_str()), 0);
  write_pieces(dir.file("a.tsv"), 2, true);
  EXPECT_EQ(read_file(dir.file("b.tsv")), "piece 0\npiece 1\n");
  EXPECT_EQ(dir.listing(), "a.tsv b.tsv ");
}

TEST(OutputFileTest, MissingFolderFailsAtOpen) {
  ScratchDir dir;
  const auto output = OutputFile::open(dir.file("no/such.tsv"));
  ASSERT_FALSE(output);
  EXPECT_NE(output.error().message().find("No such file or directory"), std::string::npos);
}

}  // namespace
}  // namespace ferolin::os
