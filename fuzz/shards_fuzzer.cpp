// Fuzz target: what a merge of shards reads from outside. The same bytes as
// a per-query table (as `ferolin scores` writes it) and as packed pairs (as
// another process sends them). Whatever the bytes: an error of the
// documented forms or pairs whose counts agree; a per-query table fed whole,
// in 1-byte and in 7-byte chunks reads the same; and a table read twice, as
// two shards, fails on its first query id, naming both.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "chunked_input.h"
#include "core/shards/packed_pairs.h"
#include "core/shards/score_table.h"
#include "core/shards/shard_merge.h"
#include "fuzz_check.h"

namespace ferolin::fuzz {
namespace {

const std::vector<ScoringMethod> kMethods = {ScoringMethod::Margin, ScoringMethod::TopKGap};

void check_form(const FerolinError& error) {
  const std::string text = error.message();
  switch (error.kind) {
    case ErrorKind::Csv:
    case ErrorKind::BadCell:
    case ErrorKind::TooLong:
      require(text.starts_with("CSV error: "), "a Csv error starts with \"CSV error: \"", text);
      return;
    case ErrorKind::MissingColumn:
      require(text.starts_with("Missing required column: "), "a missing column is named", text);
      return;
    case ErrorKind::Io:
      require(text.starts_with("IO error: these are not whole packed query pairs: "),
              "packed bytes are refused as such", text);
      return;
    case ErrorKind::InvalidArgument:
      // A merge names the query id; a header that names one column twice
      // says which.
      require(text.starts_with("query id '") || text.starts_with("the header has two columns "),
              "a merge error names the query id, a header error the column", text);
      return;
    default:
      require(false, "no other kind of error", text);
  }
}

void check_pairs(const shards::QueryPairs& pairs) {
  require(pairs.counts.labelled == pairs.correct.size(), "one pair per labelled query");
  require(pairs.counts.labelled <= pairs.counts.queries, "labelled queries are queries");
  require(pairs.counts.labelled_single_candidate <= pairs.counts.single_candidate,
          "labelled single-candidate queries are single-candidate queries");
  for (std::size_t m = 0; m < pairs.methods.size(); ++m) {
    require(pairs.confidences[m].size() == pairs.correct.size(), "a confidence per pair");
    require(pairs.scored[m] <= pairs.counts.queries, "scored queries are queries");
  }
}

// The outcome of reading a per-query table: the pairs' bits, or the error.
std::string read_table(std::string_view bytes, std::size_t chunk, int shards) {
  Result<shards::ScoreTableReader> reader = shards::ScoreTableReader::open(chunks_of(bytes, chunk));
  if (!reader) {
    check_form(reader.error());
    return "error: " + reader.error().message();
  }
  shards::ShardMerge merge(kMethods);
  for (int shard = 0; shard < shards; ++shard) {
    merge.begin_shard(shard == 0 ? "first" : "second");
    if (shard > 0) reader = shards::ScoreTableReader::open(chunks_of(bytes, chunk));
    if (Result<void> read = reader->read_into(merge); !read) {
      check_form(read.error());
      return "error: " + read.error().message();
    }
  }
  const shards::QueryPairs pairs = std::move(merge).finish();
  check_pairs(pairs);
  std::string outcome = std::to_string(pairs.counts.queries) + " " +
                        std::to_string(pairs.counts.rows) + " " +
                        std::to_string(pairs.counts.single_candidate);
  for (const auto& column : pairs.confidences) {
    for (const double value : column)
      outcome += " " + std::to_string(std::bit_cast<std::uint64_t>(value));
  }
  return outcome;
}

void fuzz_score_table(std::string_view bytes) {
  const std::string whole = read_table(bytes, bytes.size() + 1, 1);
  require(read_table(bytes, 1, 1) == whole, "1-byte chunks read as the whole", whole);
  require(read_table(bytes, 7, 1) == whole, "7-byte chunks read as the whole", whole);
  const std::string twice = read_table(bytes, bytes.size() + 1, 2);
  if (whole.starts_with("error: ")) return;
  const bool has_queries = !whole.starts_with("0 ");
  require(!has_queries || twice.find("' is in both first and second") != std::string::npos,
          "a table read as two shards fails on a query in both", twice);
}

void fuzz_packed(std::string_view bytes) {
  shards::ShardMerge merge({ScoringMethod::TopKGap});
  merge.begin_shard("packed");
  if (Result<void> read = shards::unpack_into(bytes, merge); !read) {
    check_form(read.error());
    return;
  }
  check_pairs(std::move(merge).finish());
}

}  // namespace
}  // namespace ferolin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ferolin::fuzz::fuzz_score_table(bytes);
  ferolin::fuzz::fuzz_packed(bytes);
  return 0;
}
