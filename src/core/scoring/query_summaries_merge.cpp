// QuerySummaries::absorb and what it needs: the merge of the summaries of
// a table's parts read apart, in file order.
#include "core/scoring/query_summaries.h"
#include "core/scoring/summary_merge.h"

namespace ferolin::scoring {

std::vector<std::size_t> QuerySummaries::absorb(const QuerySummaries& later) {
  std::vector<std::size_t> earlier_numbers(later.size(), kNewQuery);
  for (std::size_t q = 0; q < later.size(); ++q) {
    const std::size_t number = index_.number_of(later.query_id(q));
    if (number == size_) {
      add_query();
    } else {
      earlier_numbers[q] = number;
    }
    if (merge_record(layout_, record(number), pool_, later.summary(q)) && ids_ == TopIds::Keep) {
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
