#include "input/table_input.h"

#include <utility>

#include "core/os/file_reader.h"
#include "core/os/thread_count.h"
#include "core/table/csv_tokenizer.h"
#include "input/gzip_reader.h"
#include "input/input_formats.h"
#include "input/sha256.h"

namespace ferolin::tools {
namespace {

constexpr std::string_view kGzipMagic = "\x1f\x8b";
// Without a limit on the read's records, a header row longer than this is
// not split for reports.
constexpr std::uint64_t kHeaderSearchLimit = std::uint64_t{1} << 20;

}  // namespace

struct TableInput::State {
  State(os::FileReader reader, char delimiter)
      : file(std::move(reader)),
        header_tokenizer(std::make_unique<table::CsvTokenizer>(delimiter)) {}

  os::FileReader file;
  std::uint64_t file_bytes = 0;
  bool file_ended = false;
  std::optional<Sha256> fingerprint;
  // The first bytes of the file, read to recognise compression, handed out
  // before the rest.
  std::string head;
  bool head_given = false;
  std::optional<GzipReader> gzip;
  // Splits the first bytes of the table until the header row is complete.
  std::unique_ptr<table::CsvTokenizer> header_tokenizer;
  std::uint64_t header_searched = 0;
  std::uint64_t header_search_limit = kHeaderSearchLimit;
  std::vector<std::string> header;
};

namespace {

// Every byte taken from the file passes here, once.
Result<std::string_view> take_from_file(TableInput::State& s) {
  Result<std::string_view> chunk = s.file.read();
  if (!chunk) return chunk;
  s.file_bytes += chunk->size();
  s.file_ended = chunk->empty();
  if (s.fingerprint) s.fingerprint->update(*chunk);
  return chunk;
}

Result<std::string_view> read_file(TableInput::State& s) {
  if (!s.head_given) {
    s.head_given = true;
    if (!s.head.empty()) return std::string_view(s.head);
  }
  if (s.file_ended) return std::string_view();
  return take_from_file(s);
}

// Reads until the file holds the bytes that recognise its format or ends: a
// pipe may deliver fewer.
Result<void> read_head(TableInput::State& s) {
  while (s.head.size() < kFormatMagicBytes) {
    Result<std::string_view> chunk = take_from_file(s);
    if (!chunk) return std::unexpected(std::move(chunk.error()));
    if (chunk->empty()) break;
    s.head.append(*chunk);
  }
  return {};
}

// Feeds the table's bytes to the header tokenizer until the header row is
// complete, fails, or is too long to bother.
void search_header(TableInput::State& s, std::string_view bytes) {
  if (!s.header_tokenizer) return;
  s.header_tokenizer->supply(bytes);
  s.header_searched += bytes.size();
  const Result<table::CsvTokenizer::Step> step = s.header_tokenizer->next();
  if (step && *step == table::CsvTokenizer::Step::Record) {
    for (std::size_t i = 0; i < s.header_tokenizer->field_count(); ++i) {
      s.header.emplace_back(s.header_tokenizer->field(i));
    }
  }
  const bool waiting = step && *step == table::CsvTokenizer::Step::NeedInput;
  if (!waiting || s.header_searched >= s.header_search_limit) s.header_tokenizer.reset();
}

}  // namespace

Result<TableInput> TableInput::open(std::string_view path, char delimiter, bool fingerprint,
                                    os::InterruptCheck interrupted) {
  Result<os::FileReader> file = os::FileReader::open(path, std::move(interrupted));
  if (!file) return std::unexpected(std::move(file.error()));
  auto state = std::make_unique<State>(std::move(*file), delimiter);
  if (fingerprint) state->fingerprint.emplace();
  if (Result<void> head = read_head(*state); !head) return std::unexpected(std::move(head.error()));
  if (std::optional<std::string> unread = recognise_unread_format(state->head)) {
    return std::unexpected(FerolinError::invalid_argument(std::move(*unread)));
  }
  if (state->head.starts_with(kGzipMagic)) {
    // The state lives on the heap: the pointer stays valid when the input moves.
    Result<GzipReader> gzip = GzipReader::open([s = state.get()] { return read_file(*s); },
                                                 static_cast<unsigned>(os::thread_count()));
    if (!gzip) return std::unexpected(std::move(gzip.error()));
    state->gzip.emplace(std::move(*gzip));
  }
  return TableInput(std::move(state));
}

TableInput::TableInput(std::unique_ptr<State> state) : state_(std::move(state)) {}
TableInput::TableInput(TableInput&&) noexcept = default;
TableInput& TableInput::operator=(TableInput&&) noexcept = default;
TableInput::~TableInput() = default;

Result<std::string_view> TableInput::read() {
  State& s = *state_;
  Result<std::string_view> chunk = s.gzip ? s.gzip->read() : read_file(s);
  if (chunk && !chunk->empty()) search_header(s, *chunk);
  return chunk;
}

void TableInput::limit_header(std::uint64_t field_bytes) {
  if (!state_->header_tokenizer) return;
  // The tokenizer's own limits end the search where they end the read.
  state_->header_tokenizer->limit_field_bytes(field_bytes);
  state_->header_search_limit = UINT64_MAX;
}

std::uint64_t TableInput::file_bytes() const { return state_->file_bytes; }

std::optional<std::uint64_t> TableInput::size_hint() const {
  if (state_->gzip) return std::nullopt;
  return state_->file.size_hint();
}

Result<std::optional<std::string>> TableInput::file_sha256(std::stop_token stop) {
  State& s = *state_;
  if (!s.fingerprint) return std::nullopt;
  while (!s.file_ended) {
    if (stop.stop_requested()) return std::unexpected(FerolinError::io("the hash was stopped"));
    const Result<std::string_view> chunk = take_from_file(s);
    if (!chunk) return std::unexpected(chunk.error());
  }
  return s.fingerprint->hex_digest();
}

bool TableInput::compressed() const { return state_->gzip.has_value(); }

const std::vector<std::string>& TableInput::header() const { return state_->header; }

bool TableInput::header_pending() const { return state_->header_tokenizer != nullptr; }

}  // namespace ferolin::tools
