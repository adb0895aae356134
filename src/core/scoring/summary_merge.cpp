#include "core/scoring/summary_merge.h"

#include <cstdint>

namespace ferolin::scoring {

using namespace record_detail;

namespace {

// A leading entry of the later part, handed to take_entry() as a candidate.
struct LeadingEntry {
  std::uint64_t rank = 0;
  std::optional<bool> is_correct;
  double score = 0.0;
  double probability = 0.0;  // NaN where missing, stored as it is

  [[nodiscard]] double score_value() const { return score; }
  [[nodiscard]] std::optional<double> probability_value() const { return probability; }
};

// Returns true when a candidate of rank `rank` takes no leading position of
// a full record: every kept entry ranks at or above it and came earlier.
bool ranks_out(const RecordLayout& layout, const std::byte* record, const EntryPool& pool,
               std::uint8_t state, std::uint64_t rank) {
  const std::size_t depth = layout.needs.depth;
  return (state & kSizeMask) == depth &&
         load<std::uint64_t>(entries_of(layout, record, pool) + (depth - 1) * layout.entry_size) <=
             rank;
}

// Returns whether the merged top is tied: the earlier top when it ranks
// above the later one, the later top when it ranks above, both when equal.
bool top_tied_after(const RecordLayout& layout, const std::byte* record, const EntryPool& pool,
                    std::uint8_t state, const QuerySummary& later) {
  if (later.leading_size == 0) return (state & kTopTied) != 0;
  if ((state & kSizeMask) == 0) return later.top_tied;
  const auto earlier_top = load<std::uint64_t>(entries_of(layout, record, pool));
  const std::uint64_t later_top = later.leading[0].rank;
  if (later_top == earlier_top) return true;
  return later_top < earlier_top ? later.top_tied : (state & kTopTied) != 0;
}

}  // namespace

bool merge_record(const RecordLayout& layout, std::byte* record, EntryPool& pool,
                  const QuerySummary& later) {
  auto state = load<std::uint8_t>(record + layout.state_at);
  const bool started = (state & kSizeMask) == 0;
  const bool tied = top_tied_after(layout, record, pool, state, later);
  if (layout.needs.count) {
    store(record + layout.count_at, load<std::uint64_t>(record + layout.count_at) + later.count);
  }
  if (layout.needs.entropy) {
    if (started) store(record + layout.entropy_at, later.entropy_sum);
    if (later.probability_missing) state |= kProbabilityMissing;
  }
  store(record + layout.state_at, state);
  bool top = false;
  // The later entries are in list order among equal ranks: once one takes
  // no position, none after it does. Only the first can become the top.
  for (std::size_t i = 0; i < later.leading_size; ++i) {
    const LeadingCandidate& entry = later.leading[i];
    state = load<std::uint8_t>(record + layout.state_at);
    if (ranks_out(layout, record, pool, state, entry.rank)) break;
    const LeadingEntry candidate{entry.rank, i == 0 ? later.top_is_correct : std::nullopt,
                                 entry.score, entry.probability};
    top |= take_entry(layout, record, pool, state, candidate) == 0;
  }
  state = load<std::uint8_t>(record + layout.state_at);
  state = static_cast<std::uint8_t>(tied ? state | kTopTied : state & ~kTopTied);
  store(record + layout.state_at, state);
  return top;
}

void add_entropy_term(const RecordLayout& layout, std::byte* record,
                      std::optional<double> probability) {
  const auto state = load<std::uint8_t>(record + layout.state_at);
  if ((state & kProbabilityMissing) != 0) return;
  store(record + layout.state_at,
        record_detail::add_entropy_term(layout, record, state, probability));
}

}  // namespace ferolin::scoring
