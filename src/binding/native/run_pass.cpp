// run_pass(table, scores, delimiter=",", columns=None, keep_ids=False,
// progress=None, group_column=None, fingerprint=False, confidence_column=None,
// lower_is_better=False, decimal=".", na_values=None): one read of a table,
// plain or gzip-compressed, for every requested scoring method at once; with
// each query's group label from a further column, and the SHA-256 of the
// file's bytes taken as they are read; with confidence_column, the top
// candidate's value in that column as one more column after the methods'
// (negated with lower_is_better).
// A plain regular file is read by `threads` threads (None: FEROLIN_NUM_THREADS
// or the processors), the rest as one stream.
#include <array>
#include <string>
#include <thread>
#include <utility>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/gil_free_call.h"
#include "binding/common/method_names.h"
#include "binding/native/column_mapping.h"
#include "binding/native/core_errors.h"
#include "binding/native/functions.h"
#include "binding/native/own_column.h"
#include "binding/native/pass_access.h"
#include "binding/native/read_outcome.h"
#include "binding/native/table_spelling.h"
#include "core/os/thread_count.h"
#include "core/table/candidate_columns.h"
#include "core/table/structural_scan.h"
#include "input/table_input.h"

namespace ferolin::binding::native {
namespace {

constexpr std::array<const char*, 14> kParameters = {
    "table",        "scores",      "delimiter",         "columns",         "keep_ids",
    "progress",     "group_column", "fingerprint",      "confidence_column", "lower_is_better",
    "decimal",      "na_values",    "threads",          "max_field_bytes"};
constexpr Signature kSignature{"run_pass", kParameters, 2};

struct PassArguments {
  std::string_view path;
  pipeline::PassRequest request;
  PyObject* progress = nullptr;  // borrowed; nullptr for none
  bool fingerprint = false;
  std::optional<OwnColumnRequest> own;
};

// A flag parameter: omitted is false, otherwise its truth.
std::optional<bool> flag(Argument argument) {
  if (argument.object == nullptr) return false;
  const int truth = PyObject_IsTrue(argument.object);
  if (truth < 0) return std::nullopt;
  return truth == 1;
}

// One byte that the reader can separate fields by (an ASCII character
// other than NUL, a quote or a line break).
std::optional<char> parse_delimiter(Argument argument) {
  if (argument.object == nullptr) return ',';
  const std::optional<std::string_view> text = text_parameter(argument);
  if (!text) return std::nullopt;
  if (text->size() != 1 || !table::is_valid_separator((*text)[0])) {
    raise_value_error(
        "the delimiter must be one character other than a quote or a line break, "
        "not '" +
        std::string(*text) + "'");
    return std::nullopt;
  }
  return (*text)[0];
}

std::optional<PassArguments> convert_arguments(BoundArguments& bound) {
  PassArguments arguments;
  const std::optional<std::string_view> path = text_parameter(bound.next());
  if (!path) return std::nullopt;
  arguments.path = *path;
  const Argument scores = bound.next();
  if (!list_parameter(scores)) return std::nullopt;
  std::optional<std::vector<ScoringMethod>> methods = parse_score_list(scores.object);
  if (!methods) return std::nullopt;
  arguments.request.methods = std::move(*methods);
  const std::optional<char> delimiter = parse_delimiter(bound.next());
  if (!delimiter) return std::nullopt;
  arguments.request.table.delimiter = *delimiter;
  std::optional<std::vector<table::HeaderName>> columns = parse_columns(bound.next().object);
  if (!columns) return std::nullopt;
  arguments.request.table.header_names = std::move(*columns);
  // The command line reads labels as pandas and R write them.
  arguments.request.table.labels = table::LabelSpelling::Lenient;
  const std::optional<bool> keep_ids = flag(bound.next());
  if (!keep_ids) return std::nullopt;
  arguments.request.keep_ids = *keep_ids;
  const std::optional<PyObject*> progress = progress_parameter(bound.next());
  if (!progress) return std::nullopt;
  arguments.progress = *progress;
  if (!parse_group_column(bound.next().object, arguments.request.table)) return std::nullopt;
  const std::optional<bool> fingerprint = flag(bound.next());
  if (!fingerprint) return std::nullopt;
  arguments.fingerprint = *fingerprint;
  const Argument confidence_column = bound.next();
  std::optional<std::optional<OwnColumnRequest>> own =
      parse_own_column(confidence_column.object, bound.next().object, arguments.request);
  if (!own) return std::nullopt;
  arguments.own = std::move(*own);
  const Argument decimal = bound.next();
  std::optional<table::NumberSpelling> numbers =
      number_spelling_parameters(decimal.object, bound.next().object);
  if (!numbers) return std::nullopt;
  arguments.request.table.numbers = std::move(*numbers);
  if (arguments.own) arguments.own->numbers = arguments.request.table.numbers;
  if (const Argument threads = bound.next(); !threads.absent()) {
    const std::optional<std::uint64_t> count = unsigned_parameter(threads);
    if (!count) return std::nullopt;
    if (*count == 0) {
      raise_value_error("threads must be at least 1");
      return std::nullopt;
    }
    arguments.request.threads = static_cast<std::size_t>(*count);
  }
  if (const Argument limit = bound.next(); !limit.absent()) {
    const std::optional<std::uint64_t> bytes = unsigned_parameter(limit);
    if (!bytes) return std::nullopt;
    arguments.request.table.max_field_bytes = *bytes;
  }
  return arguments;
}

// The outcome of a read: the pass, the header, and the file's fingerprint
// when asked for.
PyObject* outcome(PyObject* module, PyRef pass, const tools::TableInput& input,
                  std::optional<std::string> sha256) {
  ReadReport report;
  report.pass = std::move(pass);
  report.sha256 = std::move(sha256);
  report.header = input.header();
  report.compressed = input.compressed();
  // A plain file read whole (perhaps in parts, not through the input) is
  // all its bytes.
  report.file_bytes = input.size_hint() ? *input.size_hint() : input.file_bytes();
  return read_outcome(module, std::move(report));
}

// A plain regular file, read by several threads at its offsets; the
// fingerprint, which takes the bytes in order, is taken meanwhile on a
// thread of its own from the input's stream.
Result<pipeline::QueryTable> read_in_parts(const PassArguments& arguments, tools::TableInput& input,
                                           std::optional<std::string>& sha256) {
  // The input's first chunks give the header that reports of a failure
  // show (and start the fingerprint): as many as a long header takes, or a
  // header the read accepts would be reported as having no columns.
  do {
    const Result<std::string_view> chunk = input.read();
    if (!chunk) return std::unexpected(chunk.error());
    if (chunk->empty()) break;
  } while (input.header_pending());
  Result<std::optional<std::string>> digest = std::nullopt;
  std::jthread hashing;
  if (arguments.fingerprint) {
    hashing = std::jthread([&](std::stop_token stop) { digest = input.file_sha256(stop); });
  }
  Result<pipeline::QueryTable> read = pipeline::run_query_pass(arguments.path, arguments.request);
  // A failed read has no use for the rest of the hash.
  if (!read) hashing.request_stop();
  if (hashing.joinable()) hashing.join();
  if (!read) return read;
  if (!digest) return std::unexpected(std::move(digest.error()));
  sha256 = std::move(*digest);
  return read;
}

// Reads the opened table: a plain file of several parts by several threads,
// anything else as one stream; the fingerprint, where asked for, either way.
Result<pipeline::QueryTable> read_whole(const PassArguments& arguments, tools::TableInput& input,
                                        std::optional<std::string>& sha256) {
  if (input.size_hint() && os::thread_count(arguments.request.threads) > 1) {
    return read_in_parts(arguments, input, sha256);
  }
  Result<pipeline::QueryTable> read = pipeline::run_query_pass(
      [&input] { return input.read(); }, input.size_hint(), arguments.request);
  if (!read) return read;
  Result<std::optional<std::string>> digest = input.file_sha256();
  if (!digest) return std::unexpected(std::move(digest.error()));
  sha256 = std::move(*digest);
  return read;
}

PyObject* run_pass_impl(PyObject* module, PassArguments& arguments) {
  GilFreeCall call(arguments.progress);
  std::optional<tools::TableInput> input;
  // The monitor shows the bytes taken from the file: for a compressed table
  // they tell how far the read has come, its decompressed bytes do not.
  arguments.request.table.monitor = call.monitor([&input](const os::ReadProgress& progress) {
    return input && input->compressed() ? input->file_bytes() : progress.bytes;
  });
  std::optional<std::string> sha256;
  Result<pipeline::QueryTable> table = call.run([&]() -> Result<pipeline::QueryTable> {
    // Opening a FIFO waits for its writer: that too happens without the
    // lock, and Ctrl-C stops it.
    Result<tools::TableInput> opened =
        tools::TableInput::open(arguments.path, arguments.request.table.delimiter,
                                arguments.fingerprint, call.interrupt_check());
    if (!opened) return std::unexpected(std::move(opened.error()));
    input.emplace(std::move(*opened));
    if (arguments.request.table.max_field_bytes != UINT64_MAX) {
      input->limit_header(arguments.request.table.max_field_bytes);
    }
    Result<pipeline::QueryTable> read = read_whole(arguments, *input, sha256);
    if (!read) return read;
    if (Result<void> added = add_own_column(arguments.own, *read); !added) {
      return std::unexpected(std::move(added.error()));
    }
    return read;
  });
  if (!table) {
    // A check-in's exception (KeyboardInterrupt, the callable's own) is raised;
    // the table's error is raised with what was read of the header.
    if (call.raised()) return nullptr;
    static const std::vector<std::string> kNoHeader;
    return raise_core_error(module, table.error(),
                            TableContext{input ? input->header() : kNoHeader, std::nullopt});
  }
  PyRef pass = wrap_pass(module, {std::move(*table), {}, std::nullopt, {}});
  if (!pass) return nullptr;
  return outcome(module, std::move(pass), *input, std::move(sha256));
}

PyObject* run_pass(PyObject* module, BoundArguments& bound) {
  std::optional<PassArguments> arguments = convert_arguments(bound);
  if (!arguments) return nullptr;
  return run_pass_impl(module, *arguments);
}

}  // namespace

const NativeFunction kRunPass{kSignature, run_pass};

}  // namespace ferolin::binding::native
