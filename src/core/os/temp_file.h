// TempFile: a new file written whole in a directory before it takes the
// name of the file it replaces or creates. Where the file system allows it
// is unnamed (O_TMPFILE), so that a process killed while writing it leaves
// nothing behind; it gets a hidden name beside its target only for the
// instant before the rename. Elsewhere it has that hidden name from the
// start. Whatever was not renamed is removed when the object is dropped.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "core/os/unique_fd.h"

namespace ferolin::os {

class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { discard(); }

  // Returns 0 once a new, empty file with permission bits `mode` (less the
  // umask, or as the directory's default ACL gives) exists in `directory`,
  // open for reading and writing (an output spooled into it is read back),
  // or the errno of the failure. `target_name` gives the hidden name.
  [[nodiscard]] int create(int directory, const std::string& target_name, mode_t mode);
  // The same, always with a hidden name: the way where O_TMPFILE fails.
  [[nodiscard]] int create_named(int directory, const std::string& target_name, mode_t mode);

  [[nodiscard]] bool exists() const { return fd_.valid(); }
  [[nodiscard]] int fd() const { return fd_.get(); }
  // Returns the permission bits the file was created with (before the umask).
  [[nodiscard]] mode_t mode() const { return mode_; }
  // Returns true when the file was created in the directory `directory`.
  [[nodiscard]] bool is_in(int directory) const;

  // Returns 0 once the file has a hidden name beside its target (kept while
  // it lives), or the errno of the failure.
  [[nodiscard]] int give_hidden_name();
  // Returns 0 once the file is renamed over `name` in its directory (after
  // giving it a hidden name), or the errno of the failure.
  [[nodiscard]] int rename_over(const std::string& name);
  // Returns 0 once the file has the new name `name` in its directory, or
  // EEXIST when that name is taken, or another errno.
  [[nodiscard]] int link_as_new(const std::string& name);
  // Flushes the directory, so that the new name survives a crash. Best
  // effort: the name is in place whatever this reports.
  void sync_directory() const;
  void discard();

 private:
  // Returns 0 once the object holds `directory` and no file, or the errno.
  [[nodiscard]] int start(int directory, const std::string& target_name);
  [[nodiscard]] int open_named(mode_t mode);

  UniqueFd directory_;
  struct stat directory_status_{};
  UniqueFd fd_;
  mode_t mode_ = 0;
  std::string prefix_;       // of hidden names: ".<target name>."
  std::string hidden_name_;  // empty while the file is unnamed
};

}  // namespace ferolin::os
