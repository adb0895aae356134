#include "core/scoring/query_summaries.h"

namespace ferolin::scoring {

QuerySummaries::QuerySummaries(const SummaryNeeds& needs, TopIds ids)
    : layout_(needs, true), pool_(layout_.needs.depth * layout_.entry_size), ids_(ids) {}

void QuerySummaries::add_query() {
  if (size_ % kRecordsPerBlock == 0) {
    blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(kRecordsPerBlock * layout_.size));
  }
  start_record(layout_, record(size_));
  ++size_;
}

void QuerySummaries::set_top_texts(std::size_t number, std::string_view candidate_id,
                                   std::optional<std::string_view> group) {
  // A new query's first candidate is its first top candidate.
  if (number == top_candidate_ids_.size()) {
    top_candidate_ids_.push_back(candidate_id);
    top_groups_.push_back(group);
    return;
  }
  top_candidate_ids_.assign(number, candidate_id);
  top_groups_.assign(number, group);
}

void QuerySummaries::set_top_confidence(std::size_t number,
                                        std::optional<std::string_view> confidence) {
  if (number == top_confidences_.size()) {
    top_confidences_.push_back(confidence);
    return;
  }
  top_confidences_.assign(number, confidence);
}

std::size_t QuerySummaries::allocated_bytes() const {
  return index_.allocated_bytes() + blocks_.size() * kRecordsPerBlock * layout_.size +
         pool_.allocated_bytes();
}

}  // namespace ferolin::scoring
