#include "core/os/cpu_features.h"

#include <cstdint>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace ferolin::os {
namespace {

#if defined(__x86_64__)

bool bit(std::uint32_t word, int index) { return ((word >> index) & 1U) != 0; }

// The XCR0 register: which register states the operating system saves.
// Written as the instruction itself, since _xgetbv needs -mxsave.
std::uint64_t extended_control_register() {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

#endif

}  // namespace

CpuFeatures read_cpu_features() {
  CpuFeatures features;
#if defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return features;
  features.ssse3 = bit(ecx, 9);
  features.sse41 = bit(ecx, 19);
  features.popcnt = bit(ecx, 23);
  features.pclmulqdq = bit(ecx, 1);
  // SSE (bit 1) and AVX (bit 2) state, both saved by the system.
  constexpr std::uint64_t kYmmState = 0b110;
  const bool ymm_saved =
      bit(ecx, 27) && (extended_control_register() & kYmmState) == kYmmState;  // 27: OSXSAVE
  features.avx = ymm_saved && bit(ecx, 28);
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return features;
  features.avx2 = ymm_saved && bit(ebx, 5);
  features.bmi1 = bit(ebx, 3);
  features.bmi2 = bit(ebx, 8);
  features.sha = bit(ebx, 29);
#endif
  return features;
}

}  // namespace ferolin::os
