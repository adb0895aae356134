#include "core/os/cpu_features.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace ferolin::os {
namespace {

// The flags the kernel lists for the first processor in /proc/cpuinfo.
std::set<std::string> kernel_cpu_flags() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (!line.starts_with("flags")) continue;
    std::istringstream words(line.substr(line.find(':') + 1));
    std::set<std::string> flags;
    for (std::string flag; words >> flag;) flags.insert(flag);
    return flags;
  }
  return {};
}

TEST(CpuFeatures, AgreeWithTheKernelsFlags) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "cpuid exists on x86-64 only";
#endif
  const std::set<std::string> flags = kernel_cpu_flags();
  if (flags.empty()) GTEST_SKIP() << "no flags in /proc/cpuinfo";
  const CpuFeatures cpu = read_cpu_features();
  const struct {
    const char* flag;
    bool ours;
  } cases[] = {{"popcnt", cpu.popcnt}, {"pclmulqdq", cpu.pclmulqdq}, {"avx", cpu.avx},
               {"avx2", cpu.avx2},     {"bmi1", cpu.bmi1},           {"bmi2", cpu.bmi2},
               {"ssse3", cpu.ssse3},   {"sse4_1", cpu.sse41},        {"sha_ni", cpu.sha}};
  for (const auto& c : cases) EXPECT_EQ(c.ours, flags.contains(c.flag)) << c.flag;
}

}  // namespace
}  // namespace ferolin::os
