#include "core/scoring/summary_record.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace ferolin::scoring {

using namespace record_detail;

SummaryNeeds needs_of(ScoringMethod method) {
  switch (method) {
    case ScoringMethod::MaxProb:
      return {.probabilities = true};
    case ScoringMethod::ScoreGap:
    case ScoringMethod::ScoreRatio:
      return {.depth = 2, .scores = true};
    case ScoringMethod::Margin:
      return {.depth = 2, .probabilities = true};
    case ScoringMethod::Entropy:
      return {.count = true, .entropy = true};
    case ScoringMethod::TopKGap:
      return {.depth = kLeadingSize, .scores = true};
    case ScoringMethod::EffectiveK:
      // Its only test of the count is for an empty query.
      return {.entropy = true};
    case ScoringMethod::CandidateCount:
      return {.count = true};
  }
  return kEveryNeed;
}

SummaryNeeds operator|(const SummaryNeeds& a, const SummaryNeeds& b) {
  return {std::max(a.depth, b.depth), a.scores || b.scores, a.probabilities || b.probabilities,
          a.count || b.count, a.entropy || b.entropy};
}

RecordLayout::RecordLayout(const SummaryNeeds& kept, bool pool_entries)
    : needs(kept), pooled(pool_entries && kept.depth > 1) {
  score_at = sizeof(std::uint64_t);
  probability_at = score_at + (needs.scores ? sizeof(double) : 0);
  entry_size = probability_at + (needs.probabilities ? sizeof(double) : 0);
  pool_slot_at = pooled ? entry_size : needs.depth * entry_size;
  count_at = pool_slot_at + (pooled ? sizeof(std::uint32_t) : 0);
  entropy_at = count_at + (needs.count ? sizeof(std::uint64_t) : 0);
  state_at = entropy_at + (needs.entropy ? sizeof(double) : 0);
  size = state_at + 1;
}

// The entries are written before they are read, so only the rest is set.
void start_record(const RecordLayout& layout, std::byte* record) {
  if (layout.pooled) store(record + layout.pool_slot_at, std::uint32_t{0});
  if (layout.needs.count) store(record + layout.count_at, std::uint64_t{0});
  // The sum starts at -0.0, so that a sum of only zero terms keeps its sign.
  if (layout.needs.entropy) store(record + layout.entropy_at, -0.0);
  store(record + layout.state_at, std::uint8_t{0});
}

std::uint32_t EntryPool::add() {
  // One slot a query at most, and queries are numbered in 32 bits.
  if (size_ >= std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  if (size_ % kSlotsPerBlock == 0) {
    blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(kSlotsPerBlock * slot_size_));
  }
  return static_cast<std::uint32_t>(++size_);
}

void copy_record(const RecordLayout& layout, const std::byte* from, const EntryPool& from_pool,
                 std::byte* record, EntryPool& pool) {
  std::memcpy(record, from, layout.size);
  if (!layout.pooled) return;
  const auto slot = load<std::uint32_t>(from + layout.pool_slot_at);
  if (slot == 0) return;
  const std::uint32_t added = pool.add();
  std::memcpy(pool[added], from_pool[slot], layout.needs.depth * layout.entry_size);
  store(record + layout.pool_slot_at, added);
}

QuerySummary read_record(const RecordLayout& layout, const std::byte* record,
                         const EntryPool& pool) {
  const auto state = load<std::uint8_t>(record + layout.state_at);
  const std::byte* const entries = entries_of(layout, record, pool);
  QuerySummary summary;
  summary.leading_size = state & kSizeMask;
  for (std::size_t i = 0; i < summary.leading_size; ++i) {
    const std::byte* entry = entries + i * layout.entry_size;
    LeadingCandidate& leading = summary.leading[i];
    leading.rank = load<std::uint64_t>(entry);
    if (layout.needs.scores) leading.score = load<double>(entry + layout.score_at);
    if (layout.needs.probabilities)
      leading.probability = load<double>(entry + layout.probability_at);
  }
  summary.count =
      layout.needs.count ? load<std::uint64_t>(record + layout.count_at) : summary.leading_size;
  if (layout.needs.entropy) summary.entropy_sum = load<double>(record + layout.entropy_at);
  summary.probability_missing = (state & kProbabilityMissing) != 0;
  summary.top_tied = (state & kTopTied) != 0;
  const int label = (state & kLabelMask) >> kLabelShift;
  if (label != 0) summary.top_is_correct = label == 2;
  return summary;
}

namespace record_detail {

std::uint8_t add_entropy_term(const RecordLayout& layout, std::byte* record, std::uint8_t state,
                              std::optional<double> probability) {
  if (!probability) return state | kProbabilityMissing;
  const double p = *probability;
  const double sum = load<double>(record + layout.entropy_at);
  // An exact zero contributes nothing (0 * ln 0 would be NaN), yet the
  // addition itself stays: it turns a starting -0.0 into +0.0.
  store(record + layout.entropy_at, p == 0.0 ? sum + 0.0 : sum + (-p) * std::log(p));
  return state;
}

std::byte* entries_for_more(const RecordLayout& layout, std::byte* record, EntryPool& pool,
                            std::size_t size) {
  if (!layout.pooled) return record;
  const auto slot = load<std::uint32_t>(record + layout.pool_slot_at);
  if (slot != 0) return pool[slot];
  if (size == 0) return record;
  const std::uint32_t added = pool.add();
  std::memcpy(pool[added], record, layout.entry_size);
  store(record + layout.pool_slot_at, added);
  return pool[added];
}

std::size_t open_entry(const RecordLayout& layout, std::byte* entries, std::size_t size,
                       std::uint64_t rank) {
  if (size == 0) {
    store(entries, rank);
    return 0;
  }
  const std::size_t entry_size = layout.entry_size;
  std::size_t at = size;
  while (at > 0 && load<std::uint64_t>(entries + (at - 1) * entry_size) > rank) --at;
  const std::size_t kept = std::min(size, layout.needs.depth - 1);
  if (kept > at) {
    std::memmove(entries + (at + 1) * entry_size, entries + at * entry_size,
                 (kept - at) * entry_size);
  }
  store(entries + at * entry_size, rank);
  return at;
}

}  // namespace record_detail
}  // namespace ferolin::scoring
