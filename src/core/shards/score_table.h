// Reading back the per-query tables that `ferolin scores` writes: TSV with
// the columns query_id, candidate_id, score, is_correct, candidates and one
// confidence column per scoring method, named by its hyphen spelling (an
// empty cell where the method gives none). Numbers are in shortest
// round-trip form, so every confidence reads back to the same bits.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/shards/shard_merge.h"
#include "core/table/table_records.h"

namespace ferolin::shards {

class ScoreTableReader {
 public:
  // Returns a reader over the bytes `read_chunk` hands out with its header
  // read: `Csv` for bytes that are not such a table, `MissingColumn` for
  // query_id, is_correct or candidates missing.
  [[nodiscard]] static Result<ScoreTableReader> open(
      table::TableRecords::ChunkReader read_chunk);

  ScoreTableReader(ScoreTableReader&&) noexcept;
  ScoreTableReader& operator=(ScoreTableReader&&) noexcept;
  ~ScoreTableReader();

  // Returns the fields of the header row.
  [[nodiscard]] const std::vector<std::string>& header() const;
  // Returns the scoring methods that have a column, in header order.
  [[nodiscard]] std::vector<ScoringMethod> methods() const;

  // Adds every query of the table to `merge`, as a shard that the caller
  // has begun. Fails with `MissingColumn` for a method of the merge that
  // has no column (before any query is added), `Csv` for a cell that is
  // not what the writer writes (with the record's position), or the
  // merge's InvalidArgument for a query id seen before.
  [[nodiscard]] Result<void> read_into(ShardMerge& merge);

  // The reading state, defined where it is used.
  struct State;

 private:
  explicit ScoreTableReader(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace ferolin::shards
