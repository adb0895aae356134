// A query's summary as a compact record of bytes, built candidate by
// candidate in list order. A record keeps only what the scoring methods and
// the call read, so that the summaries of millions of queries take little
// memory; read_record() unfolds it into a QuerySummary for scoring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "core/scoring/query_summary.h"
#include "core/types.h"

namespace ferolin::scoring {

// What a summary keeps of a query's candidates.
struct SummaryNeeds {
  std::size_t depth = 1;       // leading candidates kept in rank order (1 to kLeadingSize)
  bool scores = false;         // the leading candidates' scores
  bool probabilities = false;  // the leading candidates' probabilities
  bool count = false;          // the number of candidates
  bool entropy = false;        // the entropy sum and whether a probability is missing

  friend bool operator==(const SummaryNeeds&, const SummaryNeeds&) = default;
};

// Everything, as the scoring of candidate records reads it.
inline constexpr SummaryNeeds kEveryNeed{kLeadingSize, true, true, true, true};

// Returns what scoring by `method` reads. The top candidate (rank and label)
// is always kept.
[[nodiscard]] SummaryNeeds needs_of(ScoringMethod method);

// Returns what either of `a` and `b` reads.
[[nodiscard]] SummaryNeeds operator|(const SummaryNeeds& a, const SummaryNeeds& b);

// Where each part of a record lies. A record holds its leading entries (a
// rank, then a score and a probability where kept), the count and the
// entropy sum where kept, and one byte of state: the number of leading
// entries, the top candidate's label, whether a probability is missing and
// whether another candidate shares the top candidate's rank.
// A pooled layout holds one entry in the record and a reference to a slot
// of an EntryPool, where all `depth` entries move once a query has a second
// candidate: a table of one-candidate queries then needs no room for
// runners-up. Parts are read and written with memcpy: records are packed.
struct RecordLayout {
  RecordLayout(const SummaryNeeds& needs, bool pooled);

  SummaryNeeds needs;
  bool pooled = false;  // only with a depth above 1
  std::size_t entry_size = 0;
  std::size_t score_at = 0;        // in an entry
  std::size_t probability_at = 0;  // in an entry
  std::size_t pool_slot_at = 0;    // pooled only: a 4-byte slot number + 1, 0 for none
  std::size_t count_at = 0;
  std::size_t entropy_at = 0;
  std::size_t state_at = 0;
  std::size_t size = 0;  // of a whole record
};

// The size of the largest record (kEveryNeed, not pooled).
inline constexpr std::size_t kMaxRecordSize = kLeadingSize * 24 + 8 + 8 + 1;

// Slots of `depth` leading entries for the records of a pooled layout, in
// blocks that are never moved or copied.
class EntryPool {
 public:
  explicit EntryPool(std::size_t slot_size) : slot_size_(slot_size) {}

  // Returns the number + 1 of a new slot.
  [[nodiscard]] std::uint32_t add();

  [[nodiscard]] std::byte* operator[](std::uint32_t slot) {
    return blocks_[(slot - 1) / kSlotsPerBlock].get() + (slot - 1) % kSlotsPerBlock * slot_size_;
  }
  [[nodiscard]] const std::byte* operator[](std::uint32_t slot) const {
    return blocks_[(slot - 1) / kSlotsPerBlock].get() + (slot - 1) % kSlotsPerBlock * slot_size_;
  }

  [[nodiscard]] std::size_t allocated_bytes() const {
    return blocks_.size() * kSlotsPerBlock * slot_size_;
  }

 private:
  static constexpr std::size_t kSlotsPerBlock = 4096;

  std::size_t slot_size_;
  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::size_t size_ = 0;
};

// Sets up the record of a query without candidates.
void start_record(const RecordLayout& layout, std::byte* record);

// Sets up `record` as a copy of `from`, a record of the same layout whose
// entries lie in `from_pool`: what adding the same candidates gives.
void copy_record(const RecordLayout& layout, const std::byte* from, const EntryPool& from_pool,
                 std::byte* record, EntryPool& pool);

// Returns the query's summary. Parts that the record does not keep hold
// their initial values; `count` then holds the number of leading entries,
// which is all that methods without a need for the count read of it.
// `pool` holds the entries of a pooled layout.
[[nodiscard]] QuerySummary read_record(const RecordLayout& layout, const std::byte* record,
                                       const EntryPool& pool);

namespace record_detail {

inline constexpr std::uint8_t kSizeMask = 0x07;
inline constexpr std::uint8_t kLabelShift = 3;  // 2 bits: 0 absent, 1 false, 2 true
inline constexpr std::uint8_t kLabelMask = 0x18;
inline constexpr std::uint8_t kProbabilityMissing = 0x20;
// Another candidate has the top candidate's rank: kept as one bit rather
// than a second leading entry, which most passes would not need otherwise.
inline constexpr std::uint8_t kTopTied = 0x40;

template <typename T>
T load(const std::byte* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
void store(std::byte* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// Adds one entropy term; a missing probability ends the sum for good.
std::uint8_t add_entropy_term(const RecordLayout& layout, std::byte* record, std::uint8_t state,
                              std::optional<double> probability);

// Returns where the record's leading entries lie.
inline const std::byte* entries_of(const RecordLayout& layout, const std::byte* record,
                                   const EntryPool& pool) {
  if (!layout.pooled) return record;
  const auto slot = load<std::uint32_t>(record + layout.pool_slot_at);
  return slot == 0 ? record : pool[slot];
}

// Returns where the record's leading entries lie when they are to hold
// `size` + 1 entries, moving them to a new pool slot where they must.
std::byte* entries_for_more(const RecordLayout& layout, std::byte* record, EntryPool& pool,
                            std::size_t size);

// Returns the position among the `size` leading entries that a candidate
// of rank `rank` takes: after every entry of a smaller or equal rank, as it
// comes later in the list. It must take one: the entries are not full, or
// it ranks above the last. Opens that position (the entries after it move
// down, the last of a full list drops out) and writes the rank there.
std::size_t open_entry(const RecordLayout& layout, std::byte* entries, std::size_t size,
                       std::uint64_t rank);

// Puts a candidate that takes a leading position into its place; the part
// of add_to_record() that most rows do not reach.
template <typename Candidate>
[[gnu::noinline]] std::size_t take_entry(const RecordLayout& layout, std::byte* record,
                                         EntryPool& pool, std::uint8_t state,
                                         const Candidate& candidate) {
  const std::size_t size = state & kSizeMask;
  std::byte* const entries = entries_for_more(layout, record, pool, size);
  const std::size_t at = open_entry(layout, entries, size, candidate.rank);
  std::byte* entry = entries + at * layout.entry_size;
  if (layout.needs.scores) store(entry + layout.score_at, candidate.score_value());
  if (layout.needs.probabilities) {
    store(entry + layout.probability_at,
          candidate.probability_value().value_or(std::numeric_limits<double>::quiet_NaN()));
  }
  if (size < layout.needs.depth) ++state;
  if (at == 0) {
    // A new top ranks strictly above every earlier candidate: it is not tied.
    const std::uint8_t label = !candidate.is_correct ? 0 : *candidate.is_correct ? 2 : 1;
    state = static_cast<std::uint8_t>((state & ~(kLabelMask | kTopTied)) | (label << kLabelShift));
  } else if (load<std::uint64_t>(entries) == candidate.rank) {
    state |= kTopTied;
  }
  store(record + layout.state_at, state);
  return at;
}

}  // namespace record_detail

// Adds the next candidate of the query, in list order. `Candidate` gives
// `rank` and `is_correct`, and `score_value()` and `probability_value()`,
// which are called only when the record keeps the value: a row source can
// convert its cells on demand. Returns the position the candidate takes
// among the leading entries (0: it is the new top candidate), or
// layout.needs.depth when it takes none. `pool` holds the entries of a
// pooled layout.
template <typename Candidate>
std::size_t add_to_record(const RecordLayout& layout, std::byte* record, EntryPool& pool,
                          const Candidate& candidate) {
  using namespace record_detail;
  auto state = load<std::uint8_t>(record + layout.state_at);
  if (layout.needs.count) {
    store(record + layout.count_at, load<std::uint64_t>(record + layout.count_at) + 1);
  }
  if (layout.needs.entropy && (state & kProbabilityMissing) == 0) {
    state = add_entropy_term(layout, record, state, candidate.probability_value());
  }
  // Most rows rank below every kept entry: a table lists each query's
  // candidates in rank order.
  const std::size_t depth = layout.needs.depth;
  if ((state & kSizeMask) == depth) {
    const std::byte* const entries = entries_of(layout, record, pool);
    const auto last_rank = load<std::uint64_t>(entries + (depth - 1) * layout.entry_size);
    if (last_rank <= candidate.rank) {
      if (last_rank == candidate.rank && load<std::uint64_t>(entries) == candidate.rank) {
        state |= kTopTied;
      }
      store(record + layout.state_at, state);
      return depth;
    }
  }
  return take_entry(layout, record, pool, state, candidate);
}

}  // namespace ferolin::scoring
