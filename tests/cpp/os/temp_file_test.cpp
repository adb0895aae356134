#include "core/os/temp_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "core/os/write_in_place.h"
#include "support/policy_test_support.h"

namespace ferolin::os {
namespace {

using test::read_file;
using test::ScratchDir;
using test::write_file;

// Both kinds of temporary file: the unnamed one, and the named one that file
// systems without O_TMPFILE get.
TEST(TempFileTest, ReplacesOrCreatesAndLeavesNothingElse) {
  for (const bool named : {false, true}) {
    ScratchDir dir;
    write_file(dir.file("old.json"), "old");
    const UniqueFd directory(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const std::string name : {"old.json", "new.json"}) {
      TempFile temp;
      ASSERT_EQ(named ? temp.create_named(directory.get(), name, 0600)
                      : temp.create(directory.get(), name, 0600),
                0);
      ASSERT_EQ(write_stream(temp.fd(), "new " + name), 0);
      if (name == "old.json") {
        EXPECT_EQ(temp.link_as_new(name), EEXIST) << named;
        EXPECT_EQ(temp.rename_over(name), 0) << named;
      } else {
        EXPECT_EQ(temp.link_as_new(name), 0) << named;
      }
      EXPECT_EQ(read_file(dir.file(name)), "new " + name) << named;
    }
    TempFile dropped;
    ASSERT_EQ(named ? dropped.create_named(directory.get(), "x", 0600)
                    : dropped.create(directory.get(), "x", 0600),
              0);
    dropped.discard();
    EXPECT_EQ(dir.listing(), "new.json old.json ") << named;
  }
}

}  // namespace
}  // namespace ferolin::os
