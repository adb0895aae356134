#include "reference/group_by_query.h"

#include <string>
#include <utility>

#include "core/table/query_index.h"

namespace ferolin::reference {

std::vector<QueryRanking> group_by_query(std::vector<Candidate> candidates) {
  table::QueryIndex index;
  std::vector<std::size_t> counts;         // candidates per query number
  std::vector<std::size_t> query_of_each;  // query number of every candidate
  query_of_each.reserve(candidates.size());
  for (const Candidate& candidate : candidates) {
    const std::size_t number = index.number_of(candidate.query_id);
    if (number == counts.size()) counts.push_back(0);
    ++counts[number];
    query_of_each.push_back(number);
  }
  const std::vector<std::size_t> order = index.numbers_by_id();
  std::vector<std::size_t> slot_of(order.size());
  std::vector<QueryRanking> rankings(order.size());
  for (std::size_t slot = 0; slot < order.size(); ++slot) {
    slot_of[order[slot]] = slot;
    rankings[slot].query_id = index.id(order[slot]);
    rankings[slot].candidates.reserve(counts[order[slot]]);
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    rankings[slot_of[query_of_each[i]]].candidates.push_back(std::move(candidates[i]));
  }
  return rankings;
}

}  // namespace ferolin::reference
