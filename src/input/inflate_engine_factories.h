// The constructors of each library's engine, for make_inflate_engine.
#pragma once

#include <memory>

#include "input/inflate_engine.h"

namespace ferolin::tools {

// Returns a zlib engine, or null when zlib cannot start.
[[nodiscard]] std::unique_ptr<InflateEngine> make_zlib_engine();
// Returns an ISA-L engine; only in builds that found ISA-L.
[[nodiscard]] std::unique_ptr<InflateEngine> make_isal_engine();

}  // namespace ferolin::tools
