#include "core/shards/shard_merge.h"

#include <algorithm>
#include <utility>

namespace ferolin::shards {

void ShardMerge::begin_shard(std::string name) {
  shard_names_.push_back(std::move(name));
  shard_starts_.push_back(ids_.size());
}

const std::string& ShardMerge::shard_of(std::uint64_t position) const {
  const auto after = std::upper_bound(shard_starts_.begin(), shard_starts_.end(), position);
  return shard_names_[static_cast<std::size_t>(after - shard_starts_.begin()) - 1];
}

Result<void> ShardMerge::add(const ShardQuery& query) {
  Result<std::optional<std::uint64_t>> earlier = ids_.insert(query.query_id);
  if (!earlier) return std::unexpected(std::move(earlier.error()));
  if (*earlier) {
    const std::string id = "query id '" + std::string(query.query_id) + "'";
    const std::string& first = shard_of(**earlier);
    const std::string& second = shard_names_.back();
    if (&first == &second) {
      return std::unexpected(FerolinError::invalid_argument(id + " appears twice in " + first +
                                                            "; a per-query "
                                                            "table holds each query once"));
    }
    return std::unexpected(FerolinError::invalid_argument(
        id + " is in both " + first + " and " + second +
        "; each query's candidates must all be in one shard (merging the results of partial "
        "candidate lists would not be exact)"));
  }
  pairs_.add(query);
  return {};
}

void ShardMerge::reserve(std::uint64_t queries, std::uint64_t id_bytes) {
  ids_.reserve(queries, id_bytes);
  // Capacity that the labelled queries do not fill is never touched, so it
  // costs address space, not memory.
  const std::size_t pairs = pairs_.correct.size() + queries;
  pairs_.correct.reserve(pairs);
  for (std::vector<double>& column : pairs_.confidences) column.reserve(pairs);
}

QueryPairs ShardMerge::finish() && { return std::move(pairs_); }

}  // namespace ferolin::shards
