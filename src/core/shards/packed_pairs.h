// Packed pairs: one shard's queries as bytes that travel between processes
// (a Dask worker's result, pickled to the client) and merge there as the
// per-query tables of `ferolin scores` do: each query's id, label, whether
// it has a single candidate, and its confidences bit for bit. About 10 bytes
// a query for one method, beside the ids' bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/error.h"
#include "core/pipeline/query_pass.h"
#include "core/shards/shard_merge.h"

namespace ferolin::shards {

// Returns the size of `table` packed, or InvalidArgument when the pass did
// not keep its query ids (PassRequest::keep_ids), without which no merge can
// find a query in two shards.
[[nodiscard]] Result<std::uint64_t> packed_size(const pipeline::QueryTable& table);

// Writes `table` packed into `out`, of exactly packed_size(table) bytes.
void pack(const pipeline::QueryTable& table, std::span<char> out);

// Returns the number of queries and the bytes of their ids in packed bytes,
// or the error unpack_into would give for bytes that are not whole.
struct PackedSize {
  std::uint64_t queries = 0;
  std::uint64_t id_bytes = 0;
};
[[nodiscard]] Result<PackedSize> packed_contents(std::string_view packed);

// Adds every query of packed bytes to `merge`, as a shard the caller has
// begun, making room for them once the bytes are checked. Fails with `Io` for bytes that are not whole packed pairs of this
// machine's byte order, `MissingColumn` for a method of the merge that they
// lack, or the merge's InvalidArgument for a query id seen before.
[[nodiscard]] Result<void> unpack_into(std::string_view packed, ShardMerge& merge);

}  // namespace ferolin::shards
