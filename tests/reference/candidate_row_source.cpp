#include "reference/candidate_row_source.h"

#include <utility>

#include "core/table/record_conversion.h"

namespace ferolin::reference {

struct CandidateRowSource::State {
  explicit State(table::TableRecords table) : records(std::move(table)) {}

  table::TableRecords records;
  CandidateRow row;
  bool ended = false;
  std::optional<FerolinError> failure;
};

Result<CandidateRowSource> CandidateRowSource::over(Result<table::TableRecords> records) {
  if (!records) return std::unexpected(std::move(records.error()));
  return CandidateRowSource(std::make_unique<State>(std::move(*records)));
}

Result<CandidateRowSource> CandidateRowSource::open(std::string_view path, TableOptions options) {
  return over(table::TableRecords::open(path, std::move(options)));
}

Result<CandidateRowSource> CandidateRowSource::from_chunks(ChunkReader read_chunk,
                                                           std::optional<std::uint64_t> size_hint,
                                                           TableOptions options) {
  return over(
      table::TableRecords::from_chunks(std::move(read_chunk), size_hint, std::move(options)));
}

CandidateRowSource::CandidateRowSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
CandidateRowSource::CandidateRowSource(CandidateRowSource&&) noexcept = default;
CandidateRowSource& CandidateRowSource::operator=(CandidateRowSource&&) noexcept = default;
CandidateRowSource::~CandidateRowSource() = default;

Result<const CandidateRow*> CandidateRowSource::next() {
  State& s = *state_;
  if (s.failure) return std::unexpected(*s.failure);
  if (s.ended) return nullptr;
  const auto ready = s.records.next();
  if (!ready) {
    s.failure = ready.error();
  } else if (!*ready) {
    s.ended = true;
    return nullptr;
  } else {
    s.failure = table::convert_record(s.records, s.row);
  }
  if (s.failure) return std::unexpected(*s.failure);
  return &s.row;
}

const table::RecordPosition& CandidateRowSource::position() const {
  return state_->records.position();
}

std::optional<std::uint64_t> CandidateRowSource::size_hint() const {
  return state_->records.size_hint();
}

}  // namespace ferolin::reference
