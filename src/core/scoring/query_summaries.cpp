#include "core/scoring/query_summaries.h"

#include <algorithm>
#include <utility>

namespace ferolin::scoring {

void QuerySummaries::add(std::string_view query_id, const CandidateView& candidate) {
  add_candidate(summary_for(query_id), candidate, ids_);
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
  // Nodes are extracted so that the keys can be moved out rather than
  // copied, and sorted as handles.
  std::vector<Index::node_type> nodes;
  nodes.reserve(index_.size());
  while (!index_.empty()) nodes.push_back(index_.extract(index_.begin()));
  // std::string compares its bytes as unsigned char, a proper prefix first.
  std::sort(nodes.begin(), nodes.end(),
            [](const Index::node_type& a, const Index::node_type& b) { return a.key() < b.key(); });
  std::vector<KeyedSummary> sorted;
  sorted.reserve(nodes.size());
  for (Index::node_type& node : nodes) {
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
