// Merging shards into one set of compact query pairs:
// read_score_tables(tables, scores=None) reads per-query tables written by
// `ferolin scores`; Pass.pack() turns one pass into bytes that travel
// between processes; merge_packed(names, packed, scores) merges such
// bytes. The reading and merging run without the GIL.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/errors.h"
#include "binding/common/gil_free_call.h"
#include "binding/common/method_names.h"
#include "binding/native/core_errors.h"
#include "binding/native/functions.h"
#include "binding/native/pass_access.h"
#include "binding/native/pass_type.h"
#include "binding/native/read_outcome.h"
#include "core/argument_names.h"
#include "core/shards/packed_pairs.h"
#include "core/shards/score_table.h"
#include "input/table_input.h"

namespace ferolin::binding::native {
namespace {

// The outcome of a merge: the pairs, or the error with the source it
// concerns (none for an error of the merge itself, which names its shards).
struct MergeOutcome {
  std::optional<shards::QueryPairs> pairs;
  std::optional<FerolinError> error;
  std::optional<std::size_t> source;
  std::vector<std::string> header;  // of the failing table, else of the first
  std::vector<ScoringMethod> methods;
};

MergeOutcome failed(MergeOutcome outcome, FerolinError error, std::size_t source) {
  // A merge's own errors (a query id in two shards) are InvalidArgument.
  if (error.kind != ErrorKind::InvalidArgument) outcome.source = source;
  outcome.error = std::move(error);
  return outcome;
}

// Reads the per-query tables at `paths` into one merge of `methods` (when
// absent: the method columns of the first table). `interrupted` is asked when
// a signal interrupts a wait (a FIFO without a writer).
MergeOutcome read_tables(const std::vector<std::string>& paths,
                         std::optional<std::vector<ScoringMethod>> methods,
                         const os::InterruptCheck& interrupted) {
  MergeOutcome outcome;
  std::optional<shards::ShardMerge> merge;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Result<tools::TableInput> input = tools::TableInput::open(paths[i], '\t', false, interrupted);
    if (!input) return failed(std::move(outcome), std::move(input.error()), i);
    Result<shards::ScoreTableReader> reader =
        shards::ScoreTableReader::open([&input] { return input->read(); });
    if (!reader) {
      outcome.header = input->header();
      return failed(std::move(outcome), std::move(reader.error()), i);
    }
    if (i == 0) outcome.header = reader->header();
    if (!merge) {
      merge.emplace(methods ? std::move(*methods) : reader->methods());
      if (merge->methods().empty()) {
        return failed(std::move(outcome),
                      FerolinError::csv("no confidence column: the table has none named after "
                                        "a scoring method, as `ferolin scores --score NAME` "
                                        "writes them"),
                      i);
      }
    }
    merge->begin_shard(paths[i]);
    if (Result<void> read = reader->read_into(*merge); !read) {
      outcome.header = reader->header();
      return failed(std::move(outcome), std::move(read.error()), i);
    }
  }
  if (!merge) merge.emplace(methods ? std::move(*methods) : std::vector<ScoringMethod>{});
  outcome.methods = merge->methods();
  outcome.pairs = std::move(*merge).finish();
  return outcome;
}

MergeOutcome merge_bytes(const std::vector<std::string>& names,
                         const std::vector<std::string_view>& packed,
                         std::vector<ScoringMethod> methods) {
  MergeOutcome outcome;
  shards::ShardMerge merge(std::move(methods));
  // Every blob is checked before any is merged. unpack_into makes room
  // shard by shard, for the queries its own bytes hold: one blob listed
  // many times fails at its second listing, before room for all of them
  // is taken.
  for (std::size_t i = 0; i < packed.size(); ++i) {
    const Result<shards::PackedSize> size = shards::packed_contents(packed[i]);
    if (!size) return failed(std::move(outcome), std::move(size.error()), i);
  }
  for (std::size_t i = 0; i < packed.size(); ++i) {
    merge.begin_shard(names[i]);
    if (Result<void> added = shards::unpack_into(packed[i], merge); !added) {
      return failed(std::move(outcome), std::move(added.error()), i);
    }
  }
  outcome.methods = merge.methods();
  outcome.pairs = std::move(merge).finish();
  return outcome;
}

// The merged pass with its scores, or the error raised with the header of
// the table at fault (else of the first) and that table's index.
PyObject* outcome_record(PyObject* module, MergeOutcome outcome) {
  if (outcome.error) {
    return raise_core_error(module, *outcome.error, TableContext{outcome.header, outcome.source});
  }
  QueryPassResult result;
  result.pairs = std::move(outcome.pairs);
  ReadReport report;
  report.pass = wrap_pass(module, std::move(result));
  if (!report.pass) return nullptr;
  report.header = outcome.header;
  report.scores = std::move(outcome.methods);
  return read_outcome(module, std::move(report));
}

// Returns the str items of a list as strings, or nullopt with TypeError set.
std::optional<std::vector<std::string>> text_items(Argument argument) {
  if (!list_parameter(argument)) return std::nullopt;
  PyObject* list = argument.object;
  std::vector<std::string> items;
  for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
    const std::optional<std::string_view> item = to_text(PyList_GetItem(list, i));
    if (!item) return std::nullopt;
    items.emplace_back(*item);
  }
  return items;
}

std::optional<std::vector<ScoringMethod>> score_parameter(Argument argument) {
  if (!list_parameter(argument)) return std::nullopt;
  return parse_score_list(argument.object);
}

PyObject* pack(PyObject*, QueryPassResult& pass, BoundArguments&) {
  const Result<std::uint64_t> size = shards::packed_size(pass.table);
  if (!size) return raise_value_error(size.error().message());
  PyRef bytes = PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(*size)));
  if (!bytes) return nullptr;
  // Nothing else can see the new bytes object yet.
  const std::span<char> out(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(*size));
  GilFreeCall call;
  call.run([&] { shards::pack(pass.table, out); });
  return bytes.release();
}

constexpr std::array<const char*, 0> kNoParameters = {};

}  // namespace

const PassMethod kPackMethod{
    {"pack", kNoParameters, 0}, PassKinds::TableOnly, pack,
    "pack($self)\n--\n\nThe queries of a pass run with keep_ids, as bytes for merge_packed."};

namespace {

PyObject* read_score_tables(PyObject* module, BoundArguments& arguments) {
  std::optional<std::vector<std::string>> paths = text_items(arguments.next());
  if (!paths) return nullptr;
  std::optional<std::vector<ScoringMethod>> methods;
  if (const Argument scores = arguments.next(); !scores.absent()) {
    methods = score_parameter(scores);
    if (!methods) return nullptr;
  }
  GilFreeCall call;
  MergeOutcome outcome =
      call.run([&] { return read_tables(*paths, std::move(methods), call.interrupt_check()); });
  // The exception of a check-in (KeyboardInterrupt) is raised, not reported
  // as a table's error.
  if (call.raised()) return nullptr;
  return outcome_record(module, std::move(outcome));
}

PyObject* merge_packed(PyObject* module, BoundArguments& arguments) {
  std::optional<std::vector<std::string>> names = text_items(arguments.next());
  if (!names) return nullptr;
  const Argument blobs = arguments.next();
  if (!list_parameter(blobs)) return nullptr;
  std::optional<std::vector<ScoringMethod>> methods = score_parameter(arguments.next());
  if (!methods) return nullptr;
  if (static_cast<std::size_t>(PyList_Size(blobs.object)) != names->size()) {
    return raise_value_error("names and packed must be of equal length");
  }
  // The list may change while the lock is released: its bytes objects are
  // held here until the merge is done.
  std::vector<PyRef> held;
  std::vector<std::string_view> packed;
  for (Py_ssize_t i = 0; i < PyList_Size(blobs.object); ++i) {
    PyObject* item = PyList_GetItem(blobs.object, i);
    if (!PyBytes_Check(item)) return raise_not_instance(item, "bytes");
    held.push_back(PyRef::borrow(item));
    packed.emplace_back(PyBytes_AsString(item), static_cast<std::size_t>(PyBytes_Size(item)));
  }
  GilFreeCall call;
  return outcome_record(module,
                        call.run([&] { return merge_bytes(*names, packed, std::move(*methods)); }));
}

constexpr std::array<const char*, 2> kReadParameters = {"tables", "scores"};
constexpr std::array<const char*, 3> kMergeParameters = {"names", "packed", "scores"};

}  // namespace

const NativeFunction kReadScoreTables{{"read_score_tables", kReadParameters, 1},
                                      read_score_tables};
const NativeFunction kMergePacked{{"merge_packed", kMergeParameters, 3}, merge_packed};

}  // namespace ferolin::binding::native
