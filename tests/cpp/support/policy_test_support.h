// Helpers shared by the policy file tests: sample policies, field-by-field
// comparison, scratch directories and files, and running code in a child
// process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>

#include "core/types.h"

namespace ferolin::test {

inline PolicyFile sample_policy() {
  PolicyFile policy;
  policy.version = "0.1.0";
  policy.scoring_method = ScoringMethod::MaxProb;
  policy.threshold = 0.8;
  policy.target_error_rate = 0.05;
  policy.calibration_method = CalibrationMethod::Empirical;
  policy.created_by = "ferolin";
  return policy;
}

inline std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// Compares every field; floats by their bits, so -0.0 differs from 0.0.
inline void expect_same_policy(const PolicyFile& a, const PolicyFile& b) {
  EXPECT_EQ(a.version, b.version);
  EXPECT_EQ(a.scoring_method, b.scoring_method);
  EXPECT_EQ(bits(a.threshold), bits(b.threshold)) << a.threshold << " vs " << b.threshold;
  EXPECT_EQ(bits(a.target_error_rate), bits(b.target_error_rate));
  EXPECT_EQ(a.calibration_method, b.calibration_method);
  ASSERT_EQ(a.confidence_level.has_value(), b.confidence_level.has_value());
  if (a.confidence_level) {
    EXPECT_EQ(bits(*a.confidence_level), bits(*b.confidence_level));
  }
  EXPECT_EQ(a.created_by, b.created_by);
  EXPECT_EQ(a.group_col, b.group_col);
  ASSERT_EQ(a.group_thresholds.has_value(), b.group_thresholds.has_value());
  if (!a.group_thresholds) return;
  ASSERT_EQ(a.group_thresholds->size(), b.group_thresholds->size());
  for (const auto& [label, value] : *a.group_thresholds) {
    const auto found = b.group_thresholds->find(label);
    ASSERT_NE(found, b.group_thresholds->end()) << label;
    EXPECT_EQ(bits(value), bits(found->second)) << label;
  }
}

// A fresh directory, removed with its contents at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = ::testing::TempDir() + "ferolin_policy_XXXXXX";
    path_ = ::mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  [[nodiscard]] std::string path() const { return path_.string(); }
  [[nodiscard]] std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Returns the names of the entries, sorted, to see leftovers.
  [[nodiscard]] std::string listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto& name : names) text += name + " ";
    return text;
  }

 private:
  std::filesystem::path path_;
};

inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `body` in a forked child and returns the text it produced; a child
// that dies without answering gives "child failed".
inline std::string run_in_child(const std::function<std::string()>& body) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    const std::string answer = body();
    const ssize_t written = ::write(pipe_fds[1], answer.data(), answer.size());
    ::_exit(written == static_cast<ssize_t>(answer.size()) ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  std::string answer;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return answer;
}

}  // namespace ferolin::test
