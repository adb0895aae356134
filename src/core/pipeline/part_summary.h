// Summarising one part of a table's data on its own (one thread's share of
// a parallel read): the rows of the records that start in the part, with
// what the merge of the parts in file order needs beyond their summaries.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <vector>

#include "core/error.h"
#include "core/pipeline/probability_check.h"
#include "core/scoring/query_summaries.h"
#include "core/table/candidate_columns.h"
#include "core/table/checked_row_source.h"
#include "core/table/chunk_split.h"
#include "core/table/csv_tokenizer.h"

namespace ferolin::pipeline {

// One row's entropy term, kept so that a query whose rows are spread over
// several parts gets its sum added in file order.
struct EntropyTerm {
  std::uint32_t query = 0;  // the query's number in the part's summaries
  bool present = false;     // the probability is given
  double probability = 0.0;
};

// A row's probability as the probability check adds it, kept so that the
// sums of a query whose rows are spread over several parts are added in
// file order.
struct CheckedProbability {
  std::uint32_t query = 0;  // the query's number in the part's summaries
  double value = 0.0;
};

struct PartSummary {
  scoring::QuerySummaries summaries;
  std::vector<EntropyTerm> terms;  // every row's, when the summaries keep an entropy sum
  // For each query of the part: the index in `terms` after its last term,
  // so that a merge stops where the queries it replays end.
  std::vector<std::uint32_t> terms_end;
  // The check of the part's probabilities, when the read checks them, and
  // every row's probability (a row without one adds nothing to the check)
  // for the queries that turn out to have been seen in parts before.
  std::optional<ProbabilityCheck> check;
  std::vector<CheckedProbability> checked;
  // For each query of the part: the index in `checked` after its last row.
  std::vector<std::uint32_t> checked_end;
  std::uint64_t rows = 0;
  std::uint64_t line_breaks = 0;
  // The part ends inside a record: its start or its end lay in a quoted
  // field. Nothing else of the part counts.
  bool cut = false;
  // The part ends that the read ran on past, as they lay inside a record
  // (see summarize_part's `later`).
  std::size_t joined = 0;
  // The first failure of the part, named from where the part was resumed.
  std::optional<FerolinError> failure;
  std::exception_ptr thrown;  // an exception from the reading thread
};

// What every part of one read shares.
struct PartPlan {
  const table::ReadAt* read_at = nullptr;
  const table::ColumnPlan* columns = nullptr;
  const table::TableOptions* options = nullptr;
  std::size_t fields = 0;  // the header's field count
  scoring::SummaryNeeds needs;
  scoring::TopIds ids = scoring::TopIds::Drop;
  const std::atomic<bool>* stop = nullptr;  // set: end the read at the next chunk
};

// Returns the summary of the records that start in [at.next.byte, end),
// which must end there between two records unless `end` is absent (the
// part runs to the end of the file). The positions of a failure count
// from `at`; a read that `plan.stop` ended gives an empty failure-free
// summary that must not be used. `spare_terms`: an emptied list of terms
// of an earlier part, whose memory the part's terms take. Where `end` lies
// inside a record and `extend` is set, the read runs on to the next of the
// `later` part starts, then to the end of the file, until it ends between
// two records: a record as long as many parts is read once.
[[nodiscard]] PartSummary summarize_part(const PartPlan& plan,
                                         const table::CsvTokenizer::ResumePoint& at,
                                         std::optional<std::uint64_t> end,
                                         std::vector<EntropyTerm> spare_terms = {},
                                         bool extend = false,
                                         std::span<const table::PartStart> later = {});

}  // namespace ferolin::pipeline
