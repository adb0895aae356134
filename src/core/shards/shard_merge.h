// ShardMerge: gathers the queries of several shards (per-query tables, or
// passes scored elsewhere) into one set of compact pairs, and refuses a
// query id found twice: merging two partial candidate lists of one query
// would not give the query's confidence, so no result could be exact.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/shards/query_id_set.h"
#include "core/shards/query_pairs.h"

namespace ferolin::shards {

class ShardMerge {
 public:
  explicit ShardMerge(std::vector<ScoringMethod> methods)
      : pairs_(QueryPairs::for_methods(std::move(methods))) {}

  [[nodiscard]] const std::vector<ScoringMethod>& methods() const { return pairs_.methods; }

  // Starts the next shard; `name` (e.g. its path) names it in errors.
  void begin_shard(std::string name);

  // Adds one query of the current shard. Returns InvalidArgument naming the
  // id and both shards when a shard before (or this one) had the same id.
  [[nodiscard]] Result<void> add(const ShardQuery& query);

  // Makes room for `queries` more queries with `id_bytes` bytes of ids, so
  // that nothing grows (holding old and new storage at once) on the way.
  // The counts must be those of bytes at hand, checked, never ones that
  // input merely claims.
  void reserve(std::uint64_t queries, std::uint64_t id_bytes);

  // Counts `rows` candidate rows of the current shard.
  // Counts `rows` more candidate rows; a count beyond 2^64 - 1 (forged
  // tables) stays at that.
  void add_rows(std::uint64_t rows) {
    if (__builtin_add_overflow(pairs_.counts.rows, rows, &pairs_.counts.rows)) {
      pairs_.counts.rows = UINT64_MAX;
    }
  }

  // Returns the merged pairs; the ids are dropped.
  [[nodiscard]] QueryPairs finish() &&;

 private:
  [[nodiscard]] const std::string& shard_of(std::uint64_t position) const;

  QueryPairs pairs_;
  QueryIdSet ids_;
  std::vector<std::string> shard_names_;
  std::vector<std::uint64_t> shard_starts_;  // position of each shard's first id
};

}  // namespace ferolin::shards
