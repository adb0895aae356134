// The ISA-L engine: igzip's streaming inflate with gzip headers and
// trailers checked. Compiled only where the build found ISA-L.
#include <isa-l/igzip_lib.h>

#include "input/inflate_engine.h"
#include "input/inflate_engine_factories.h"

namespace ferolin::tools {
namespace {

// igzip reports errors as codes; these are the words zlib uses for the same
// faults, so that a message does not depend on the library.
const char* describe(int status) {
  switch (status) {
    case ISAL_INVALID_WRAPPER: return "incorrect header check";
    case ISAL_UNSUPPORTED_METHOD: return "unknown compression method";
    case ISAL_INCORRECT_CHECKSUM: return "incorrect data check";
    case ISAL_INVALID_BLOCK: return "invalid block";
    case ISAL_INVALID_SYMBOL: return "invalid code";
    case ISAL_INVALID_LOOKBACK: return "invalid distance too far back";
    default: return "invalid compressed data";
  }
}

class IsalEngine final : public InflateEngine {
 public:
  IsalEngine() { restart(); }

  void supply(std::string_view input) override {
    // igzip takes a non-const pointer but never writes through next_in.
    state_.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(input.data()));
    state_.avail_in = static_cast<std::uint32_t>(input.size());
  }

  std::size_t input_left() const override { return state_.avail_in; }

  std::expected<InflateStep, InflateFailure> inflate(std::span<char> out) override {
    if (!magic_matches()) return std::unexpected(InflateFailure{describe(ISAL_INVALID_WRAPPER)});
    const std::uint32_t before_in = state_.avail_in;
    state_.next_out = reinterpret_cast<std::uint8_t*>(out.data());
    state_.avail_out = static_cast<std::uint32_t>(out.size());
    const int status = isal_inflate(&state_);
    const std::size_t produced = out.size() - state_.avail_out;
    if (status < 0) return std::unexpected(InflateFailure{describe(status), produced});
    InflateStep step;
    step.produced = produced;
    step.progressed = step.produced > 0 || state_.avail_in != before_in;
    step.member_end = state_.block_state == ISAL_BLOCK_FINISH;
    member_in_ += before_in - state_.avail_in;
    return step;
  }

  bool next_member() override {
    // The reset keeps the input not taken yet: igzip hands back whole bytes
    // it had buffered past the trailer.
    std::uint8_t* const next_in = state_.next_in;
    const std::uint32_t avail_in = state_.avail_in;
    restart();
    state_.next_in = next_in;
    state_.avail_in = avail_in;
    return true;
  }

 private:
  void restart() {
    isal_inflate_init(&state_);
    state_.crc_flag = ISAL_GZIP;
    member_in_ = 0;
  }

  // igzip waits for a whole header before it looks at one; zlib rejects a
  // member whose first two bytes are not gzip's at once. Checking them here
  // names data that are not gzip as such, not as cut short.
  bool magic_matches() const {
    static constexpr std::uint8_t kMagic[] = {0x1f, 0x8b};
    for (std::uint64_t at = member_in_; at < 2 && at - member_in_ < state_.avail_in; ++at) {
      if (state_.next_in[at - member_in_] != kMagic[at]) return false;
    }
    return true;
  }

  inflate_state state_{};
  std::uint64_t member_in_ = 0;  // input the current member has taken
};

}  // namespace

std::unique_ptr<InflateEngine> make_isal_engine() { return std::make_unique<IsalEngine>(); }

}  // namespace ferolin::tools
