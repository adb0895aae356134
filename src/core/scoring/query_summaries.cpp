#include "core/scoring/query_summaries.h"

#include <utility>

#include "core/byte_sort.h"

namespace ferolin::scoring {

void QuerySummaries::add(std::string_view query_id, const CandidateView& candidate) {
  add_candidate(summary_for(query_id), candidate, ids_, entropy_);
}

QuerySummary& QuerySummaries::summary_for(std::string_view query_id) {
  if (last_ != kNone && query_id == last_id_) return summaries_[last_];
  auto found = index_.find(query_id);
  if (found == index_.end()) {
    found = index_.emplace(std::string(query_id), summaries_.size()).first;
    summaries_.emplace_back();
  }
  last_id_ = found->first;
  last_ = found->second;
  return summaries_[last_];
}

void QuerySummaries::forget_last() {
  last_id_ = {};
  last_ = kNone;
}

std::vector<KeyedSummary> QuerySummaries::take_sorted() {
  forget_last();
  // Nodes are extracted so that the keys can be moved out rather than copied.
  std::vector<Index::node_type> nodes;
  nodes.reserve(index_.size());
  while (!index_.empty()) nodes.push_back(index_.extract(index_.begin()));
  std::vector<std::string_view> keys;
  keys.reserve(nodes.size());
  for (const Index::node_type& node : nodes) keys.push_back(node.key());
  const std::vector<std::size_t> order = order_by_bytes(keys);
  std::vector<KeyedSummary> sorted;
  sorted.reserve(nodes.size());
  for (std::size_t at : order) {
    Index::node_type& node = nodes[at];
    sorted.push_back({std::move(node.key()), std::move(summaries_[node.mapped()])});
  }
  summaries_.clear();
  return sorted;
}

std::vector<QuerySummary> QuerySummaries::take_unordered() {
  forget_last();
  index_.clear();
  return std::exchange(summaries_, {});
}

}  // namespace ferolin::scoring
