// QueryPairs: what curves, calibration and the comparison of methods need of
// many queries gathered from several shards, held compactly: for each
// labelled query only its confidence by each method and whether its top
// candidate is correct (9 bytes for one method); the other queries are
// counted, not kept.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/types.h"

namespace ferolin::shards {

// One query as a shard hands it over.
struct ShardQuery {
  std::string_view query_id;
  std::optional<bool> top_is_correct;  // the top candidate's label
  bool single_candidate = false;
  // One per method of the merge, in its order; NaN where the method gives none.
  std::span<const double> confidences;
};

struct PairCounts {
  std::uint64_t queries = 0;
  std::uint64_t rows = 0;  // candidates of all queries
  std::uint64_t labelled = 0;
  std::uint64_t single_candidate = 0;
  std::uint64_t labelled_single_candidate = 0;
};

struct QueryPairs {
  std::vector<ScoringMethod> methods;
  // confidences[m][i]: labelled query i's confidence by methods[m], NaN where none.
  std::vector<std::vector<double>> confidences;
  std::vector<std::uint8_t> correct;  // [i]: 1 when the top candidate is correct
  PairCounts counts;
  // scored[m]: queries, labelled or not, that methods[m] gives a confidence
  // other than NaN (a confidence a threshold can accept).
  std::vector<std::uint64_t> scored;

  // Returns empty pairs for `methods`.
  [[nodiscard]] static QueryPairs for_methods(std::vector<ScoringMethod> methods);

  // Counts `query` and keeps its pair when it is labelled.
  void add(const ShardQuery& query);
};

}  // namespace ferolin::shards
