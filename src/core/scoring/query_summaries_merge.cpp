// QuerySummaries::absorb and what it needs: the merge of the summaries of
// a table's parts read apart, in file order.
#include <array>
#include <cstdint>

#include "core/scoring/query_summaries.h"
#include "core/scoring/summary_merge.h"

namespace ferolin::scoring {

namespace {

// How many queries ahead absorb() hashes an id and fetches its slot: a
// part of many small queries costs one cache miss a query otherwise.
constexpr std::size_t kHashAhead = 8;

}  // namespace

std::vector<std::size_t> QuerySummaries::absorb(const QuerySummaries& later) {
  std::vector<std::size_t> earlier_numbers(later.size(), kNewQuery);
  std::array<std::uint64_t, kHashAhead> hashes;
  for (std::size_t q = 0; q < kHashAhead && q < later.size(); ++q) {
    hashes[q] = index_.prefetch_hashed(later.query_id(q));
  }
  for (std::size_t q = 0; q < later.size(); ++q) {
    const std::uint64_t id_hash = hashes[q % kHashAhead];
    if (q + kHashAhead < later.size()) {
      hashes[q % kHashAhead] = index_.prefetch_hashed(later.query_id(q + kHashAhead));
    }
    const std::size_t number = index_.number_of(later.query_id(q), id_hash);
    bool top = true;
    if (number == size_) {
      // A new query takes the later record as it stands.
      add_query();
      copy_record(layout_, later.record(q), later.pool_, record(number), pool_);
    } else {
      earlier_numbers[q] = number;
      top = merge_record(layout_, record(number), pool_, later.summary(q));
    }
    if (top && ids_ == TopIds::Keep) {
      set_top_texts(number, later.top_candidate_id(q), later.top_group(q));
      // Rows of a table with an own-confidence column carry its cell.
      if (q < later.top_confidences_.size()) set_top_confidence(number, later.top_confidence(q));
    }
  }
  return earlier_numbers;
}

void QuerySummaries::add_entropy_term(std::size_t number, std::optional<double> probability) {
  scoring::add_entropy_term(layout_, record(number), probability);
}

}  // namespace ferolin::scoring
