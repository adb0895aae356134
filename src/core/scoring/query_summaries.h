// QuerySummaries: groups a table's rows, in file order, into one summary per
// query without holding the rows, and hands the summaries out sorted by id.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/table/candidate_row.h"
#include "core/scoring/query_summary.h"

namespace ferolin::scoring {

// One query's identifier with the summary of its candidates.
struct KeyedSummary {
  std::string query_id;
  QuerySummary summary;
};

class QuerySummaries {
 public:
  // `ids` says whether each summary keeps its top candidate's id and group,
  // `entropy` whether it sums the entropy terms.
  explicit QuerySummaries(TopIds ids, EntropySum entropy = EntropySum::Keep)
      : ids_(ids), entropy_(entropy) {}

  // Adds the next row of the table. The row is not kept.
  void add(const table::CandidateRow& row) { add(row.query_id, view_of(row)); }
  // Adds the next candidate of the query `query_id`, in file order.
  void add(std::string_view query_id, const CandidateView& candidate);

  // Returns the number of distinct queries added so far.
  [[nodiscard]] std::size_t size() const { return summaries_.size(); }

  // Returns the summaries in ascending order of the bytes of their query
  // ids (a proper prefix first) and leaves the builder empty.
  [[nodiscard]] std::vector<KeyedSummary> take_sorted();
  // Returns the summaries in no defined order and leaves the builder empty;
  // for consumers whose result does not depend on the order of queries.
  [[nodiscard]] std::vector<QuerySummary> take_unordered();

 private:
  // Lets a lookup by std::string_view find a std::string key without
  // building a string. Deliberately not noexcept: libstdc++ then stores each
  // key's hash in its node, so that a lookup compares hashes before strings
  // and a rehash does not hash every key again.
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  // Keys map to positions in `summaries_`: the nodes stay small and the
  // summaries contiguous, which matters with millions of queries.
  using Index = std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>>;

  [[nodiscard]] QuerySummary& summary_for(std::string_view query_id);
  void forget_last();

  TopIds ids_;
  EntropySum entropy_;
  Index index_;
  std::vector<QuerySummary> summaries_;
  // The query of the previous row: rows mostly come grouped by query, so
  // this spares the hash lookup of most rows. The view points into the
  // index's key, which does not move while the entry exists.
  std::string_view last_id_;
  std::size_t last_ = kNone;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
};

}  // namespace ferolin::scoring
