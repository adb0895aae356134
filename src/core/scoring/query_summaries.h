// QuerySummaries: groups a table's rows, in file order, into one compact
// summary per query without holding the rows; the queries are numbered in
// the order they are first seen.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/scoring/query_summary.h"
#include "core/scoring/summary_record.h"
#include "core/table/query_index.h"
#include "core/text_slots.h"

namespace ferolin::scoring {

// Whether summaries keep their top candidate's `candidate_id`, `group` and
// own-confidence cell `confidence`.
// Only policy application and per-query tables with ids need them.
enum class TopIds { Drop, Keep };

class QuerySummaries {
 public:
  // `needs` says what each summary keeps (only what the methods to be
  // scored read), `ids` whether it keeps its top candidate's id and group.
  QuerySummaries(const SummaryNeeds& needs, TopIds ids);

  // Adds the next candidate of the query `query_id`, in file order, and
  // returns the query's number. `Candidate` gives what add_to_record()
  // reads and, with TopIds::Keep, `candidate_id` and `group`
  // (std::optional<std::string_view>), and where the table has an
  // own-confidence column, its cell as `confidence` or, for a reader that
  // makes the text only when the row becomes the top, `confidence_cell()`.
  template <typename Candidate>
  std::size_t add(std::string_view query_id, const Candidate& candidate) {
    const std::size_t number = index_.number_of(query_id);
    if (number == size_) add_query();
    if (add_to_record(layout_, record(number), pool_, candidate) == 0 && ids_ == TopIds::Keep) {
      set_top_texts(number, candidate.candidate_id, candidate.group);
      if constexpr (requires { candidate.confidence_cell(); }) {
        set_top_confidence(number, candidate.confidence_cell());
      } else if constexpr (requires { candidate.confidence; }) {
        set_top_confidence(number, candidate.confidence);
      }
    }
    return number;
  }

  // Marks a query of absorb()'s argument that was not here before.
  static constexpr std::size_t kNewQuery = static_cast<std::size_t>(-1);

  // Adds the summaries of the rows that follow in the table, summarised
  // apart with the same needs and ids: their queries, in order of first
  // sight, join as add() would number them. Returns, for each of `later`'s
  // queries, its number here when it was here before, else kNewQuery: the
  // entropy terms of those rows must then be added with add_entropy_term(),
  // in file order.
  [[nodiscard]] std::vector<std::size_t> absorb(const QuerySummaries& later);

  // Adds one entropy term (a candidate's probability, or its absence) to
  // the sum of query `number`.
  void add_entropy_term(std::size_t number, std::optional<double> probability);

  // Returns whether prefetch() pays: lookups go through the index's table
  // and the rows' ids keep changing.
  [[nodiscard]] bool prefetch_pays() const { return index_.prefetch_pays(); }

  // Starts fetching what adding a row of the query `query_id` reads first,
  // a few rows before it is added. Changes nothing.
  void prefetch(std::string_view query_id) const { index_.prefetch(query_id); }

  // Returns the number of distinct queries added so far.
  [[nodiscard]] std::size_t size() const { return size_; }

  // Returns the summary of query `number` (0 to size() - 1, in order of
  // first sight). It holds only what the needs asked for.
  [[nodiscard]] QuerySummary summary(std::size_t number) const {
    return read_record(layout_, record(number), pool_);
  }

  // The query's id; the top candidate's id and group with TopIds::Keep.
  // Valid until the next add(); the ids until free_ids().
  [[nodiscard]] std::string_view query_id(std::size_t number) const { return index_.id(number); }
  [[nodiscard]] std::string_view top_candidate_id(std::size_t number) const {
    return *top_candidate_ids_[number];
  }
  [[nodiscard]] std::optional<std::string_view> top_group(std::size_t number) const {
    return top_groups_[number];
  }
  // The top candidate's own-confidence cell, with TopIds::Keep; absent for
  // an empty cell or a table read without that column.
  [[nodiscard]] std::optional<std::string_view> top_confidence(std::size_t number) const {
    if (number >= top_confidences_.size()) return std::nullopt;
    return top_confidences_[number];
  }

  // Returns the query numbers in ascending order of the bytes of their ids
  // (a proper prefix first).
  [[nodiscard]] std::vector<std::size_t> numbers_by_id() const { return index_.numbers_by_id(); }

  // Frees the query ids and their lookup table once no rows follow and no
  // id is read again.
  void free_ids() { index_ = table::QueryIndex(); }

  // Returns the bytes that the summaries, the ids and the lookup table take.
  [[nodiscard]] std::size_t allocated_bytes() const;

 private:
  static constexpr std::size_t kRecordsPerBlock = 4096;

  void add_query();
  void set_top_texts(std::size_t number, std::string_view candidate_id,
                     std::optional<std::string_view> group);
  void set_top_confidence(std::size_t number, std::optional<std::string_view> confidence);

  [[nodiscard]] std::byte* record(std::size_t number) {
    return blocks_[number / kRecordsPerBlock].get() + number % kRecordsPerBlock * layout_.size;
  }
  [[nodiscard]] const std::byte* record(std::size_t number) const {
    return blocks_[number / kRecordsPerBlock].get() + number % kRecordsPerBlock * layout_.size;
  }

  RecordLayout layout_;
  EntryPool pool_;
  TopIds ids_;
  table::QueryIndex index_;
  // Records in blocks that are never moved or copied as the table grows.
  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::size_t size_ = 0;
  TextSlots top_candidate_ids_;  // with TopIds::Keep
  TextSlots top_groups_;         // with TopIds::Keep
  TextSlots top_confidences_;    // with TopIds::Keep, for rows that carry one
};

}  // namespace ferolin::scoring
