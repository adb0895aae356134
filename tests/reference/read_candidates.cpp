#include "reference/read_candidates.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "reference/candidate_row_source.h"

namespace ferolin::reference {
namespace {

constexpr std::size_t kFirstReserve = 4096;

// Called when the list is full. Growing a vector by doubling holds the old
// and the new block at once and leaves up to half of the new one unused, so
// when the file's size is known the remaining rows are estimated from the
// bytes per row so far, with a margin. Capacity that is never written is
// never touched, so a generous margin costs address space, not memory.
void reserve_more(std::vector<Candidate>& list, const CandidateRowSource& source) {
  const std::size_t rows = list.size();
  const auto size = source.size_hint();
  const std::uint64_t consumed = source.position().byte;
  if (rows < kFirstReserve || !size || consumed == 0 || *size <= consumed) {
    list.reserve(std::max(kFirstReserve, 2 * rows));
    return;
  }
  const double rows_per_byte = static_cast<double>(rows) / static_cast<double>(consumed);
  const double remaining = static_cast<double>(*size - consumed) * rows_per_byte;
  const double wanted = static_cast<double>(rows) + remaining * 1.1 + kFirstReserve;
  // Half of max_size() keeps the conversion back from double below it.
  const double limit = static_cast<double>(list.max_size() / 2);
  try {
    list.reserve(static_cast<std::size_t>(std::min(wanted, limit)));
  } catch (const std::bad_alloc&) {
    // An estimate the system refuses (odd row lengths early in the file)
    // leaves the ordinary growth of push_back.
  }
}

}  // namespace

Candidate to_candidate(const table::CandidateRow& row, bool keep_details) {
  Candidate candidate;
  candidate.query_id = row.query_id;
  candidate.candidate_id = row.candidate_id;
  candidate.rank = row.rank;
  candidate.score = row.score;
  candidate.probability = row.probability;
  candidate.is_correct = row.is_correct;
  const auto own = [](std::optional<std::string>& to, std::optional<std::string_view> from) {
    if (from) to.emplace(*from);
  };
  if (keep_details &&
      (row.smiles || row.inchikey || row.formula || row.target_inchikey || row.group)) {
    CandidateDetails& details = candidate.details.mut();
    own(details.smiles, row.smiles);
    own(details.inchikey, row.inchikey);
    own(details.formula, row.formula);
    own(details.target_inchikey, row.target_inchikey);
    own(details.group, row.group);
  }
  return candidate;
}

Result<std::vector<Candidate>> read_candidates(std::string_view path, ReadOptions options) {
  auto source = CandidateRowSource::open(path);
  if (!source) return std::unexpected(std::move(source.error()));
  std::vector<Candidate> list;
  while (true) {
    const auto row = source->next();
    if (!row) return std::unexpected(row.error());
    if (*row == nullptr) return list;
    if (list.size() == list.capacity()) reserve_more(list, *source);
    list.push_back(to_candidate(**row, options.keep_details));
  }
}

}  // namespace ferolin::reference
