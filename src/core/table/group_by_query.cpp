#include "core/table/group_by_query.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/byte_sort.h"

namespace ferolin::table {
namespace {

struct QueryIndex {
  std::vector<std::string> ids;            // distinct identifiers in order of first sight
  std::vector<std::size_t> counts;         // candidates per identifier
  std::vector<std::size_t> query_of_each;  // identifier index of every candidate
};

// One pass with a hash map. Rows of one query usually stand together, so the
// previous row's identifier is tried before the map.
QueryIndex index_queries(const std::vector<Candidate>& candidates) {
  QueryIndex index;
  index.query_of_each.reserve(candidates.size());
  std::unordered_map<std::string_view, std::size_t> seen;
  std::string_view last_id;
  std::size_t last = 0;
  for (const Candidate& candidate : candidates) {
    if (index.ids.empty() || candidate.query_id != last_id) {
      const auto [it, inserted] = seen.try_emplace(candidate.query_id, index.ids.size());
      if (inserted) {
        index.ids.push_back(candidate.query_id);
        index.counts.push_back(0);
      }
      last = it->second;
      last_id = candidate.query_id;
    }
    ++index.counts[last];
    index.query_of_each.push_back(last);
  }
  return index;
}

}  // namespace

std::vector<QueryRanking> group_by_query(std::vector<Candidate> candidates) {
  QueryIndex index = index_queries(candidates);
  const std::vector<std::string_view> ids(index.ids.begin(), index.ids.end());
  const std::vector<std::size_t> order = order_by_bytes(ids);
  std::vector<std::size_t> slot_of(order.size());
  std::vector<QueryRanking> rankings(order.size());
  for (std::size_t slot = 0; slot < order.size(); ++slot) {
    slot_of[order[slot]] = slot;
    rankings[slot].query_id = std::move(index.ids[order[slot]]);
    rankings[slot].candidates.reserve(index.counts[order[slot]]);
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    rankings[slot_of[index.query_of_each[i]]].candidates.push_back(std::move(candidates[i]));
  }
  return rankings;
}

}  // namespace ferolin::table
