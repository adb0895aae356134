// Fuzz target: the table read by several threads against the same table
// read front to back on one. The first byte picks the number of threads
// (2 to 5), the next two the size of the parts (1 to 512 bytes, so that
// part starts fall inside quoted fields, across CRLF and after multi-byte
// UTF-8 characters) and what the summaries keep; the rest is the table.
// Both reads must give the same rows and summaries, bit for bit (the
// entropy sums added in row order), or the same error.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "chunked_input.h"
#include "core/pipeline/parallel_pass.h"
#include "core/scoring/summary_record.h"
#include "fuzz_check.h"

namespace ferolin::fuzz {
namespace {

constexpr std::size_t kHeader = 3;

// A double's bits, so that NaNs and signed zeros compare too.
std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

bool same_summary(const scoring::QuerySummary& a, const scoring::QuerySummary& b) {
  if (a.count != b.count || a.leading_size != b.leading_size ||
      a.probability_missing != b.probability_missing || a.top_is_correct != b.top_is_correct ||
      a.top_tied != b.top_tied) {
    return false;
  }
  // The sum no longer counts once a probability is missing.
  if (!a.probability_missing && bits(a.entropy_sum) != bits(b.entropy_sum)) return false;
  for (std::size_t i = 0; i < a.leading_size; ++i) {
    const scoring::LeadingCandidate& x = a.leading[i];
    const scoring::LeadingCandidate& y = b.leading[i];
    if (x.rank != y.rank || bits(x.score) != bits(y.score) ||
        bits(x.probability) != bits(y.probability)) {
      return false;
    }
  }
  return true;
}

// Returns what differs between the two reads' summaries, or nothing.
std::string difference(const pipeline::TableSummaries& one, const pipeline::TableSummaries& many) {
  if (one.rows != many.rows) {
    return "rows " + std::to_string(one.rows) + " vs " + std::to_string(many.rows);
  }
  if (one.summaries.size() != many.summaries.size()) return "number of queries";
  const auto counts = [](const pipeline::TableSummaries& table) {
    if (!table.probabilities) return std::pair<std::uint64_t, std::uint64_t>(~0ULL, ~0ULL);
    return std::pair(table.probabilities->outside_unit_interval,
                     table.probabilities->queries_above_one);
  };
  if (counts(one) != counts(many)) return "probability check";
  for (std::size_t q = 0; q < one.summaries.size(); ++q) {
    const std::string at = "query " + std::to_string(q) + ": ";
    if (one.summaries.query_id(q) != many.summaries.query_id(q)) return at + "id";
    if (!same_summary(one.summaries.summary(q), many.summaries.summary(q))) return at + "summary";
    if (one.summaries.top_candidate_id(q) != many.summaries.top_candidate_id(q)) {
      return at + "top candidate";
    }
  }
  return {};
}

scoring::SummaryNeeds needs_from(std::uint8_t byte) {
  if (byte % 2 == 0) return scoring::kEveryNeed;
  constexpr ScoringMethod kMethods[] = {ScoringMethod::MaxProb,    ScoringMethod::ScoreGap,
                                        ScoringMethod::Entropy,    ScoringMethod::TopKGap,
                                        ScoringMethod::EffectiveK, ScoringMethod::CandidateCount};
  return scoring::needs_of(kMethods[(byte / 2) % std::size(kMethods)]);
}

}  // namespace
}  // namespace ferolin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ferolin;
  if (size < fuzz::kHeader) return 0;
  const std::size_t threads = 2 + data[0] % 4;
  const std::uint64_t part_bytes = 1 + (std::uint64_t{data[1]} | std::uint64_t{data[2] & 1u} << 8);
  const scoring::SummaryNeeds needs = fuzz::needs_from(static_cast<std::uint8_t>(data[2] >> 1));
  const std::string_view csv(reinterpret_cast<const char*>(data) + fuzz::kHeader,
                             size - fuzz::kHeader);
  const table::RowNeeds row_needs = pipeline::row_needs(needs, scoring::TopIds::Keep);

  const auto one = pipeline::summarize_rows(
      table::CheckedRowSource::from_chunks(fuzz::chunks_of(csv, 4096), csv.size(), {}, row_needs),
      needs, scoring::TopIds::Keep);

  // The header is read as a stream; the parts at their offsets.
  const table::ReadAt read_at = [csv](std::uint64_t offset,
                                      std::span<char> into) -> Result<std::size_t> {
    const std::size_t n =
        offset < csv.size() ? std::min(into.size(), static_cast<std::size_t>(csv.size() - offset))
                            : 0;
    if (n > 0) std::memcpy(into.data(), csv.data() + offset, n);
    return n;
  };
  auto header = table::TableRecords::from_chunks(fuzz::chunks_of(csv, 4096), csv.size());
  const pipeline::ParallelReading reading{.threads = threads, .part_bytes = part_bytes};
  Result<pipeline::TableSummaries> many =
      header ? pipeline::summarize_in_parts(std::move(*header), read_at, csv.size(), {}, needs,
                                            scoring::TopIds::Keep, reading)
             : std::unexpected(header.error());
  // The detail is made only when the outcomes differ: the error of a read
  // that succeeded does not exist.
  if (one.has_value() != many.has_value()) {
    fuzz::require(false, "both reads succeed or both fail",
                  one ? many.error().message() : one.error().message());
  }
  if (!one) {
    fuzz::require(one.error().message() == many.error().message(), "the same error",
                  one.error().message() + "\n" + many.error().message());
    return 0;
  }
  const std::string differs = fuzz::difference(*one, *many);
  fuzz::require(differs.empty(), "the same summaries", differs);
  return 0;
}
