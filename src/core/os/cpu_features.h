// CpuFeatures: the instruction-set extensions of this processor that the
// table scan and the SHA-256 of a file choose their kernels by, read with
// cpuid and xgetbv directly.
// The compiler's own probe (__builtin_cpu_supports) would link its runtime
// library, whose weak copies of memcpy, exp or log can then replace the C
// library's in a module built with another toolchain.
#pragma once

namespace ferolin::os {

struct CpuFeatures {
  bool popcnt = false;
  bool ssse3 = false;
  bool sse41 = false;
  bool pclmulqdq = false;
  // AVX and AVX2 count only where the operating system saves the 256-bit
  // registers on a context switch, as /proc/cpuinfo shows them.
  bool avx = false;
  bool avx2 = false;
  bool bmi1 = false;
  bool bmi2 = false;
  bool sha = false;  // SHA-1 and SHA-256 instructions
};

// Returns the features of this processor; all false on other architectures.
[[nodiscard]] CpuFeatures read_cpu_features();

}  // namespace ferolin::os
