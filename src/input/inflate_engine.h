// InflateEngine: one library's inflate of gzip members, behind one interface,
// so that the member handling, the errors and the reading thread above it do
// not depend on which library inflates. ISA-L's igzip is used where the
// build found it (about twice zlib's speed); zlib otherwise, and as the
// reference the tests compare it with.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace ferolin::tools {

enum class Inflater { Zlib, Isal };

// What one call of InflateEngine::inflate did.
struct InflateStep {
  std::size_t produced = 0;  // bytes written to the output
  bool progressed = false;   // input was used or output written
  bool member_end = false;   // the member's trailer has been read and checked
};

// What an inflate call that failed had done: the library's account of why
// the data cannot be gzip, and the bytes it wrote to the output first.
struct InflateFailure {
  std::string what;
  std::size_t produced = 0;
};

class InflateEngine {
 public:
  virtual ~InflateEngine() = default;

  // Hands over the next compressed bytes; the engine keeps a pointer into
  // them until input_left() is 0.
  virtual void supply(std::string_view input) = 0;
  // Returns the number of supplied bytes the engine has not taken yet.
  [[nodiscard]] virtual std::size_t input_left() const = 0;
  // Returns what inflating into `out` did, or the failure.
  [[nodiscard]] virtual std::expected<InflateStep, InflateFailure> inflate(std::span<char> out) = 0;
  // Starts the next member with the bytes not taken yet. Returns false when
  // the library cannot be reset.
  [[nodiscard]] virtual bool next_member() = 0;
};

// Returns the fastest inflater this build has.
[[nodiscard]] Inflater fastest_inflater();

// Returns an engine of `kind` (zlib when the build lacks `kind`), or null
// when the library cannot start (out of memory).
[[nodiscard]] std::unique_ptr<InflateEngine> make_inflate_engine(Inflater kind);

}  // namespace ferolin::tools
