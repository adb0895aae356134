// Merging shards into one set of compact query pairs:
// read_score_tables(tables, scores=None) reads per-query tables written by
// `ferolin scores`; pack_pass(query_pass) turns one pass into bytes that
// travel between processes; merge_packed(names, packed, scores) merges such
// bytes. The reading and merging run without the GIL.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "binding/common/args.h"
#include "binding/common/convert.h"
#include "binding/common/dict_builder.h"
#include "binding/common/errors.h"
#include "binding/common/gil_free_call.h"
#include "binding/common/method_names.h"
#include "binding/native/core_errors.h"
#include "binding/native/functions.h"
#include "binding/native/pass_access.h"
#include "binding/native/query_pass_handle.h"
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
  // Every blob is checked before any is merged. Room is made shard by
  // shard, for the queries its own bytes hold: one blob listed many times
  // fails at its second listing, before room for all of them is taken.
  std::vector<shards::PackedSize> sizes;
  for (std::size_t i = 0; i < packed.size(); ++i) {
    const Result<shards::PackedSize> size = shards::packed_contents(packed[i]);
    if (!size) return failed(std::move(outcome), std::move(size.error()), i);
    sizes.push_back(*size);
  }
  for (std::size_t i = 0; i < packed.size(); ++i) {
    merge.reserve(sizes[i].queries, sizes[i].id_bytes);
    merge.begin_shard(names[i]);
    if (Result<void> added = shards::unpack_into(packed[i], merge); !added) {
      return failed(std::move(outcome), std::move(added.error()), i);
    }
  }
  outcome.methods = merge.methods();
  outcome.pairs = std::move(merge).finish();
  return outcome;
}

PyRef score_names(const std::vector<ScoringMethod>& methods) {
  std::vector<std::string_view> names;
  for (const ScoringMethod method : methods) names.push_back(argument_name(method));
  return text_list(names);
}

// The merged pass with its scores, or the error raised with the header of
// the table at fault (else of the first) and that table's index.
PyObject* outcome_dict(PyObject* module, MergeOutcome outcome) {
  if (outcome.error) {
    return raise_core_error(module, *outcome.error, TableContext{outcome.header, outcome.source});
  }
  QueryPassResult result;
  result.pairs = std::move(outcome.pairs);
  PyRef pass = wrap_pass(std::move(result));
  if (!pass) return nullptr;
  std::optional<DictKeys<3>> keys = DictKeys<3>::make({"pass", "header", "scores"});
  if (!keys) return nullptr;
  return build_dict(*keys, {std::move(pass), text_list(outcome.header),
                            score_names(outcome.methods)})
      .release();
}

// Returns the str items of a list as strings, or nullopt with TypeError set.
std::optional<std::vector<std::string>> text_items(PyObject* list, const char* parameter) {
  if (!list_parameter(list, parameter)) return std::nullopt;
  std::vector<std::string> items;
  for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
    const std::optional<std::string_view> item = to_text(PyList_GetItem(list, i));
    if (!item) return std::nullopt;
    items.emplace_back(*item);
  }
  return items;
}

std::optional<std::vector<ScoringMethod>> score_parameter(PyObject* object) {
  if (!list_parameter(object, "scores")) return std::nullopt;
  return parse_score_list(object);
}

}  // namespace

PyObject* read_score_tables(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) {
  static constexpr std::array<const char*, 2> kParameters = {"tables", "scores"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 2> bound{};
    if (!bind_arguments({"read_score_tables", kParameters, 1}, args, nargsf, kwnames, bound)) {
      return nullptr;
    }
    std::optional<std::vector<std::string>> paths = text_items(bound[0], "tables");
    if (!paths) return nullptr;
    std::optional<std::vector<ScoringMethod>> methods;
    if (bound[1] != nullptr && bound[1] != Py_None) {
      methods = score_parameter(bound[1]);
      if (!methods) return nullptr;
    }
    GilFreeCall call;
    MergeOutcome outcome =
        call.run([&] { return read_tables(*paths, std::move(methods), call.interrupt_check()); });
    // The exception of a check-in (KeyboardInterrupt) is raised, not reported
    // as a table's error.
    if (call.raised()) return nullptr;
    return outcome_dict(module, std::move(outcome));
  });
}

PyObject* pack_pass(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  static constexpr std::array<const char*, 1> kParameters = {"query_pass"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 1> bound{};
    QueryPassResult* pass = bound_pass({"pack_pass", kParameters, 1}, args, nargsf, kwnames, bound);
    if (pass == nullptr) return nullptr;
    const Result<std::uint64_t> size = shards::packed_size(pass->table);
    if (!size) return raise_value_error(size.error().message());
    PyRef bytes = PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(*size)));
    if (!bytes) return nullptr;
    // Nothing else can see the new bytes object yet.
    const std::span<char> out(PyBytes_AsString(bytes.get()), static_cast<std::size_t>(*size));
    GilFreeCall call;
    call.run([&] { shards::pack(pass->table, out); });
    return bytes.release();
  });
}

PyObject* merge_packed(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) {
  static constexpr std::array<const char*, 3> kParameters = {"names", "packed", "scores"};
  return guarded(module, [&]() -> PyObject* {
    std::array<PyObject*, 3> bound{};
    if (!bind_arguments({"merge_packed", kParameters, 3}, args, nargsf, kwnames, bound)) {
      return nullptr;
    }
    std::optional<std::vector<std::string>> names = text_items(bound[0], "names");
    if (!names) return nullptr;
    if (!list_parameter(bound[1], "packed")) return nullptr;
    std::optional<std::vector<ScoringMethod>> methods = score_parameter(bound[2]);
    if (!methods) return nullptr;
    if (static_cast<std::size_t>(PyList_Size(bound[1])) != names->size()) {
      return raise_value_error("names and packed must be of equal length");
    }
    // The list may change while the lock is released: its bytes objects are
    // held here until the merge is done.
    std::vector<PyRef> held;
    std::vector<std::string_view> packed;
    for (Py_ssize_t i = 0; i < PyList_Size(bound[1]); ++i) {
      PyObject* item = PyList_GetItem(bound[1], i);
      if (!PyBytes_Check(item)) return raise_not_instance(item, "bytes");
      held.push_back(PyRef::borrow(item));
      packed.emplace_back(PyBytes_AsString(item),
                          static_cast<std::size_t>(PyBytes_Size(item)));
    }
    GilFreeCall call;
    MergeOutcome outcome =
        call.run([&] { return merge_bytes(*names, packed, std::move(*methods)); });
    return outcome_dict(module, std::move(outcome));
  });
}

}  // namespace ferolin::binding::native
