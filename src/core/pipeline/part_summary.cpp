#include "core/pipeline/part_summary.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>
#include <utility>

#include "core/os/file_reader.h"
#include "core/pipeline/probability_check.h"
#include "core/pipeline/table_summaries.h"

namespace ferolin::pipeline {
namespace {

// Hands out the part's bytes a chunk at a time. At the part's end it fails
// instead of ending the input, so that the tokenizer is left as it stands
// there: between two records, or inside one.
class PartBytes {
 public:
  PartBytes(const PartPlan& plan, std::uint64_t begin, std::optional<std::uint64_t> end)
      : plan_(plan),
        offset_(begin),
        end_(end),
        buffer_(std::make_unique_for_overwrite<char[]>(os::kReadChunkSize)) {}

  // Runs on past an end that `tokenizer` reaches inside a record: to the
  // next of `later`, then to the end of the file.
  void extend(const table::CsvTokenizer& tokenizer, std::span<const table::PartStart> later) {
    tokenizer_ = &tokenizer;
    later_ = later;
  }
  [[nodiscard]] std::size_t joined() const { return joined_; }

  Result<std::string_view> next() {
    if (plan_.stop->load(std::memory_order_relaxed)) return stopped();
    std::size_t want = os::kReadChunkSize;
    if (end_ && offset_ == *end_ && tokenizer_ != nullptr && !tokenizer_->between_records()) {
      end_ = later_.empty() ? std::nullopt : std::optional(later_.front().byte);
      if (!later_.empty()) later_ = later_.subspan(1);
      ++joined_;
    }
    if (end_) {
      if (offset_ == *end_) return ran_out();
      want = static_cast<std::size_t>(std::min<std::uint64_t>(want, *end_ - offset_));
    }
    const auto got = (*plan_.read_at)(offset_, {buffer_.get(), want});
    if (!got) return std::unexpected(got.error());
    offset_ += *got;
    // A file that shrank since it was measured ends where it ends now.
    if (end_ && *got == 0) end_.reset();
    return std::string_view(buffer_.get(), *got);
  }

  [[nodiscard]] bool at_end() const { return at_end_; }
  [[nodiscard]] bool stopped_early() const { return stopped_; }

 private:
  Result<std::string_view> ran_out() {
    at_end_ = true;
    return std::unexpected(FerolinError::csv("end of part"));
  }
  Result<std::string_view> stopped() {
    stopped_ = true;
    return std::unexpected(FerolinError::csv("read stopped"));
  }

  const PartPlan& plan_;
  std::uint64_t offset_;
  std::optional<std::uint64_t> end_;
  const table::CsvTokenizer* tokenizer_ = nullptr;  // set: the read may run on
  std::span<const table::PartStart> later_;
  std::size_t joined_ = 0;
  std::unique_ptr<char[]> buffer_;
  bool at_end_ = false;
  bool stopped_ = false;
};

// Reads the part's rows into `part`; returns when they are used up or at
// the first failure.
void read_rows(const PartPlan& plan, table::CheckedRowSource& source, const PartBytes& bytes,
               PartSummary& part) {
  const bool log_terms = plan.needs.entropy;
  while (true) {
    const Result<const table::CheckedRow*> row = source.next();
    if (!row) {
      if (bytes.stopped_early()) return;
      const table::CsvTokenizer& tokenizer = source.records().record();
      if (!bytes.at_end()) {
        part.failure = row.error();
      } else if (!tokenizer.between_records()) {
        part.cut = true;
      }
      return;
    }
    if (*row == nullptr) return;
    if (part.summaries.prefetch_pays()) part.summaries.prefetch(source.query_id_ahead());
    const std::size_t query = part.summaries.add((*row)->query_id, **row);
    if (part.check) {
      const std::optional<double> value = ProbabilityCheck::cell_value((*row)->probability_cell);
      if (value && !std::isnan(*value)) {
        part.check->add(query, value);
        part.checked.push_back({static_cast<std::uint32_t>(query), *value});
        if (query >= part.checked_end.size()) part.checked_end.resize(query + 1, 0);
        part.checked_end[query] = static_cast<std::uint32_t>(part.checked.size());
      }
    }
    if (log_terms) {
      // With an entropy sum every probability is converted already.
      const std::optional<double> probability = (*row)->probability_value();
      part.terms.push_back({static_cast<std::uint32_t>(query), probability.has_value(),
                            probability.value_or(0.0)});
      if (query == part.terms_end.size()) part.terms_end.push_back(0);
      part.terms_end[query] = static_cast<std::uint32_t>(part.terms.size());
    }
  }
}

}  // namespace

PartSummary summarize_part(const PartPlan& plan, const table::CsvTokenizer::ResumePoint& at,
                           std::optional<std::uint64_t> end,
                           std::vector<EntropyTerm> spare_terms, bool extend,
                           std::span<const table::PartStart> later) {
  PartSummary part{.summaries = scoring::QuerySummaries(plan.needs, plan.ids),
                   .terms = std::move(spare_terms),
                   .terms_end = {},
                   .check = {},
                   .checked = {},
                   .checked_end = {},
                   .rows = 0,
                   .line_breaks = 0,
                   .cut = false,
                   .failure = {},
                   .thrown = {}};
  try {
    if (checks_probabilities(plan.needs)) part.check.emplace();
    PartBytes bytes(plan, at.next.byte, end);
    table::CheckedRowSource source = table::CheckedRowSource::over_records(
        table::TableRecords::resume([&bytes] { return bytes.next(); }, *plan.columns,
                                    *plan.options, at),
        row_needs(plan.needs, plan.ids));
    if (extend) bytes.extend(source.records().record(), later);
    read_rows(plan, source, bytes, part);
    part.joined = bytes.joined();
    const table::RecordPosition reached = source.records().record().next_position();
    part.rows = reached.record - at.next.record;
    part.line_breaks = reached.line - at.next.line;
  } catch (...) {
    part.thrown = std::current_exception();
  }
  return part;
}

}  // namespace ferolin::pipeline
