#include "core/scoring/query_summaries.h"

#include <algorithm>
#include <utility>

namespace ferolin::scoring {

void QuerySummaries::add(std::string_view query_id, const CandidateView& candidate) {
  add_candidate(summary_for(query_id), candidate, ids_);
}

QuerySummary& QuerySummaries::summary_for(std::string_view query_id) {
  if (last_ != nullptr && query_id == last_id_) return *last_;
  auto found = map_.find(query_id);
  if (found == map_.end()) found = map_.emplace(std::string(query_id), QuerySummary{}).first;
  last_id_ = found->first;
  last_ = &found->second;
  return *last_;
}

void QuerySummaries::forget_last() {
  last_id_ = {};
  last_ = nullptr;
}

std::vector<KeyedSummary> QuerySummaries::take_sorted() {
  forget_last();
  // Nodes are extracted so that the keys can be moved out, and sorted as
  // handles so that no summary moves more than once.
  std::vector<Map::node_type> nodes;
  nodes.reserve(map_.size());
  while (!map_.empty()) nodes.push_back(map_.extract(map_.begin()));
  // std::string compares its bytes as unsigned char, a proper prefix first.
  std::sort(nodes.begin(), nodes.end(),
            [](const Map::node_type& a, const Map::node_type& b) { return a.key() < b.key(); });
  std::vector<KeyedSummary> sorted;
  sorted.reserve(nodes.size());
  for (Map::node_type& node : nodes) {
    sorted.push_back({std::move(node.key()), std::move(node.mapped())});
  }
  return sorted;
}

std::vector<QuerySummary> QuerySummaries::take_unordered() {
  forget_last();
  std::vector<QuerySummary> summaries;
  summaries.reserve(map_.size());
  for (auto& entry : map_) summaries.push_back(std::move(entry.second));
  map_.clear();
  return summaries;
}

}  // namespace ferolin::scoring
