#include "core/shards/query_pairs.h"

#include <cmath>
#include <utility>

namespace ferolin::shards {

QueryPairs QueryPairs::for_methods(std::vector<ScoringMethod> methods) {
  QueryPairs pairs;
  pairs.confidences.resize(methods.size());
  pairs.scored.resize(methods.size());
  pairs.methods = std::move(methods);
  return pairs;
}

void QueryPairs::add(const ShardQuery& query) {
  ++counts.queries;
  if (query.single_candidate) ++counts.single_candidate;
  for (std::size_t m = 0; m < methods.size(); ++m) {
    if (!std::isnan(query.confidences[m])) ++scored[m];
  }
  if (!query.top_is_correct) return;
  ++counts.labelled;
  if (query.single_candidate) ++counts.labelled_single_candidate;
  correct.push_back(*query.top_is_correct ? 1 : 0);
  for (std::size_t m = 0; m < methods.size(); ++m) {
    confidences[m].push_back(query.confidences[m]);
  }
}

}  // namespace ferolin::shards
