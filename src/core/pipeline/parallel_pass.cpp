#include "core/pipeline/parallel_pass.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/os/positional_file.h"
#include "core/os/thread_count.h"
#include "core/pipeline/part_queue.h"
#include "core/pipeline/part_summary.h"

namespace ferolin::pipeline {
namespace {

// The reading threads: each reads the parts it claims until none is left.
// Dropping them stops the read and waits for them.
class PartReaders {
 public:
  PartReaders(PartQueue& queue, const PartPlan& plan, const std::vector<table::PartStart>& starts,
              std::size_t threads)
      : queue_(queue) {
    // Short of memory or of threads, the read goes on with those started
    // (with none, the merging thread reads every part itself).
    try {
      threads_.reserve(threads);
      for (std::size_t t = 0; t < threads; ++t) {
        threads_.emplace_back([&queue, &plan, &starts] {
          // The first exception of a thread allocates its C++ runtime's
          // thread-local data, which the C library cannot fail gracefully
          // (it aborts): that allocation is made now, before this thread
          // takes memory, so that running short later throws as it should.
          static_cast<void>(std::uncaught_exceptions());
          while (const std::optional<std::size_t> part = queue.claim()) {
            queue.deliver(*part, summarize_part(plan, local_start(plan, starts, *part),
                                                part_end(starts, *part + 1), queue.spare_terms()));
          }
        });
      }
    } catch (const std::system_error&) {
    } catch (...) {
      queue.stop();  // those started must not wait for a merge that will not come
      throw;
    }
  }

  [[nodiscard]] bool started() const { return !threads_.empty(); }
  ~PartReaders() { queue_.stop(); }
  PartReaders(const PartReaders&) = delete;
  PartReaders& operator=(const PartReaders&) = delete;

  // Where part `part` starts, counted from there: its records and lines
  // before it are known only once the parts before it are merged.
  static table::CsvTokenizer::ResumePoint local_start(const PartPlan& plan,
                                                      const std::vector<table::PartStart>& starts,
                                                      std::size_t part) {
    return {{.record = 0, .line = 1, .byte = starts[part].byte}, starts[part].byte_before,
            plan.fields};
  }

  // Where the part before `next` ends: where part `next` starts, or the
  // end of the file.
  static std::optional<std::uint64_t> part_end(const std::vector<table::PartStart>& starts,
                                               std::size_t next) {
    if (next >= starts.size()) return std::nullopt;
    return starts[next].byte;
  }

 private:
  PartQueue& queue_;
  std::vector<std::jthread> threads_;
};

// Adds the part's check to `check`: a query first seen in the part (the
// next new number in the part's order, as absorb() numbers them) takes the
// part's sum, and the rows of a query seen before (`earlier`) are added
// again under its number: the sums are then added in file order, as one
// read adds them.
void check_part(ProbabilityCheck& check, const PartSummary& part,
                const std::vector<std::size_t>& earlier, std::size_t first_new) {
  constexpr std::size_t kNew = scoring::QuerySummaries::kNewQuery;
  check.add_outside_of(*part.check);
  std::size_t end = 0;  // the walk ends with the last row of a query seen before
  for (std::size_t q = 0; q < earlier.size(); ++q) {
    if (earlier[q] == kNew) {
      check.take_sum(first_new++, *part.check, q);
    } else if (q < part.checked_end.size()) {
      end = std::max<std::size_t>(end, part.checked_end[q]);
    }
  }
  for (std::size_t r = 0; r < end; ++r) {
    const CheckedProbability& row = part.checked[r];
    if (earlier[row.query] != kNew) check.add_to_sum(earlier[row.query], row.value);
  }
}

// Adds a part's summaries to those of the parts before it (and its checked
// probabilities to `check`, where there is one); the entropy terms of its
// queries seen before are added again, in file order.
void merge_part(TableSummaries& table, std::optional<ProbabilityCheck>& check,
                const PartSummary& part) {
  const std::size_t first_new = table.summaries.size();
  const std::vector<std::size_t> earlier = table.summaries.absorb(part.summaries);
  if (check) check_part(*check, part, earlier, first_new);
  table.rows += part.rows;
  if (part.terms.empty()) return;
  constexpr std::size_t kNew = scoring::QuerySummaries::kNewQuery;
  // Mostly only the part's first query was seen before (its rows began in
  // the part before): the walk ends with its last row.
  std::size_t end = 0;
  for (std::size_t q = 0; q < earlier.size(); ++q) {
    if (earlier[q] != kNew) end = std::max<std::size_t>(end, part.terms_end[q]);
  }
  for (std::size_t t = 0; t < end; ++t) {
    const EntropyTerm& term = part.terms[t];
    const std::size_t number = earlier[term.query];
    if (number == kNew) continue;
    table.summaries.add_entropy_term(
        number, term.present ? std::optional<double>(term.probability) : std::nullopt);
  }
}

// How often the merging thread checks in with the monitor while it waits
// for a part.
constexpr std::chrono::milliseconds kCheckWhileWaiting{20};

// The merge, on the calling thread: parts in file order, each checked to
// have ended between two records (read again with the parts after it as
// one where it did not), failures named from the table's start.
class PartMerge {
 public:
  PartMerge(const PartPlan& plan, const std::vector<table::PartStart>& starts,
            table::RecordPosition first, std::uint64_t size)
      : plan_(plan), starts_(starts), next_(first), size_(size) {}

  Result<TableSummaries> run(PartQueue& queue, const PartReaders& readers) {
    TableSummaries table{scoring::QuerySummaries(plan_.needs, plan_.ids)};
    std::optional<ProbabilityCheck> probabilities;
    if (checks_probabilities(plan_.needs)) probabilities.emplace();
    for (std::size_t part = 0; part < starts_.size();) {
      Result<PartSummary> taken =
          readers.started() ? wait_for(queue, part)
                            : summarize_part(plan_, PartReaders::local_start(plan_, starts_, part),
                                             PartReaders::part_end(starts_, part + 1));
      if (!taken) return std::unexpected(std::move(taken.error()));
      PartSummary summary = std::move(*taken);
      std::size_t after = part + 1;
      if (summary.cut && !summary.thrown) {
        // Read again from the part's start, on past every part end that
        // lies inside a record.
        summary = summarize_part(plan_, start_of(part), PartReaders::part_end(starts_, after), {},
                                 true, std::span(starts_).subspan(after + 1));
        after += summary.joined;
      }
      queue.merged_before(after);
      if (summary.thrown) std::rethrow_exception(summary.thrown);
      if (summary.failure) return std::unexpected(failure_of(part, after, std::move(summary)));
      merge_part(table, probabilities, summary);
      // The parts merged so far tell about how many queries the table holds.
      if (part == 0) table.summaries.reserve(table.summaries.size() * starts_.size() / after);
      queue.recycle(std::move(summary.terms));
      next_.record += summary.rows;
      next_.line += summary.line_breaks;
      const std::optional<std::uint64_t> end = PartReaders::part_end(starts_, after);
      if (auto checked = check(end.value_or(size_)); !checked) {
        return std::unexpected(std::move(checked.error()));
      }
      part = after;
    }
    if (probabilities) table.probabilities = probabilities->counts();
    return table;
  }

 private:
  // Waits for part `part`'s summary, checking in with the monitor
  // meanwhile: a Ctrl-C stops the read while a part is still being read.
  Result<PartSummary> wait_for(PartQueue& queue, std::size_t part) const {
    while (true) {
      std::optional<PartSummary> summary = queue.take(part, kCheckWhileWaiting);
      if (summary) return std::move(*summary);
      if (auto checked = check(starts_[part].byte); !checked) {
        return std::unexpected(std::move(checked.error()));
      }
    }
  }

  table::CsvTokenizer::ResumePoint start_of(std::size_t part) const {
    return {{.record = next_.record, .line = next_.line, .byte = starts_[part].byte},
            starts_[part].byte_before, plan_.fields};
  }

  // A part's failure named as one read from the start names it: the part
  // is read again from its place in the table, now known.
  FerolinError failure_of(std::size_t part, std::size_t after, PartSummary summary) const {
    PartSummary again =
        summarize_part(plan_, start_of(part), PartReaders::part_end(starts_, after));
    return again.failure ? std::move(*again.failure) : std::move(*summary.failure);
  }

  Result<void> check(std::uint64_t bytes) const {
    const os::ReadMonitor& monitor = plan_.options->monitor;
    if (!monitor.check) return {};
    return monitor.check(os::ReadProgress{.bytes = bytes, .rows = next_.record});
  }

  const PartPlan& plan_;
  const std::vector<table::PartStart>& starts_;
  table::RecordPosition next_;  // the records and lines before the part being merged
  std::uint64_t size_;          // of the file
};

// The size of the parts: kPartBytes, unless FEROLIN_TEST_PART_BYTES gives
// another (a positive decimal), with which the tests read small tables in
// many parts.
std::uint64_t part_bytes() {
  const char* text = std::getenv("FEROLIN_TEST_PART_BYTES");
  if (text == nullptr) return kPartBytes;
  std::uint64_t bytes = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, bytes);
  return error == std::errc() && stop == end && bytes > 0 ? bytes : kPartBytes;
}

Result<char> byte_at(const table::ReadAt& read_at, std::uint64_t offset) {
  char byte = 0;
  const auto got = read_at(offset, {&byte, 1});
  if (!got) return std::unexpected(got.error());
  return byte;
}

}  // namespace

Result<TableSummaries> summarize_in_parts(table::TableRecords header, const table::ReadAt& read_at,
                                          std::uint64_t size, const table::TableOptions& options,
                                          const scoring::SummaryNeeds& needs, scoring::TopIds ids,
                                          const ParallelReading& reading) {
  const table::CsvTokenizer& tokenizer = header.record();
  const table::RecordPosition first = tokenizer.next_position();
  const table::RowNeeds row_needs_of_table = row_needs(needs, ids);
  if (reading.threads <= 1 || first.byte >= size) {
    return summarize_rows(
        table::CheckedRowSource::over_records(std::move(header), row_needs_of_table), needs, ids);
  }
  char before = 0;
  if (first.byte > 0) {
    const auto byte = byte_at(read_at, first.byte - 1);
    if (!byte) return std::unexpected(byte.error());
    before = *byte;
  }
  const auto starts = table::split_at_line_starts(read_at, {first.byte, before}, size,
                                                  std::max<std::uint64_t>(reading.part_bytes, 1));
  if (!starts) return std::unexpected(starts.error());
  if (starts->size() == 1) {
    return summarize_rows(
        table::CheckedRowSource::over_records(std::move(header), row_needs_of_table), needs, ids);
  }
  const std::size_t threads = std::min(reading.threads, starts->size());
  PartQueue queue(starts->size(), 2 * threads);
  const PartPlan plan{&read_at, &header.plan(), &options, tokenizer.field_count(),
                      needs,    ids,            &queue.stopped()};
  PartMerge merge(plan, *starts, first, size);
  const PartReaders readers(queue, plan, *starts, threads);
  return merge.run(queue, readers);
}

Result<TableSummaries> summarize_table(std::string_view path, table::TableOptions options,
                                       const scoring::SummaryNeeds& needs, scoring::TopIds ids,
                                       std::optional<std::size_t> threads) {
  const table::RowNeeds row_needs_of_table = row_needs(needs, ids);
  const std::size_t count = os::thread_count(threads);
  if (count == 1) {
    return summarize_rows(
        table::CheckedRowSource::open(path, std::move(options), row_needs_of_table), needs, ids);
  }
  Result<table::TableRecords> header = table::TableRecords::open(path, options);
  if (!header) return std::unexpected(std::move(header.error()));
  // A pipe or a FIFO (no size) is one stream, and so is a table of one part.
  const std::optional<std::uint64_t> size = header->size_hint();
  Result<os::PositionalFile> file = std::unexpected(FerolinError::csv("one stream"));
  const std::uint64_t part = part_bytes();
  if (size && *size > part) file = os::PositionalFile::open(path);
  if (!file) {
    return summarize_rows(
        table::CheckedRowSource::over_records(std::move(*header), row_needs_of_table), needs, ids);
  }
  const table::ReadAt read_at = [&file](std::uint64_t offset, std::span<char> into) {
    return file->read_at(offset, into);
  };
  return summarize_in_parts(std::move(*header), read_at, *size, options, needs, ids,
                            {.threads = count, .part_bytes = part});
}

}  // namespace ferolin::pipeline
