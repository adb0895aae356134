// The one way a fuzz target reports a broken property: a message on standard
// error and an abort, which libFuzzer records as a crash with its input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace ferolin::fuzz {

// Returns only when `holds`; otherwise prints `what` (and `detail`) and aborts.
inline void require(bool holds, std::string_view what, std::string_view detail = "") {
  if (holds) return;
  std::fprintf(stderr, "property broken: %.*s\n%.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace ferolin::fuzz
