// The candidates and queries of the plain reading, held whole: each row as
// a record that owns its texts, each query with its full candidate list.
// The core never holds a table so; the tests build queries this way and
// check the core's summaries against them.
#pragma once

#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "core/types.h"

namespace ferolin::reference {

// A candidate's details as it owns them. They live behind one pointer so that
// a candidate without any of them stays small: tables hold millions.
using CandidateDetails = CandidateDetailFields<std::string>;

// An owning pointer to CandidateDetails that copies deeply, so that
// Candidate stays an ordinary copyable value. Empty means "all absent".
class DetailsBox {
 public:
  DetailsBox() = default;
  explicit DetailsBox(CandidateDetails details)
      : ptr_(std::make_unique<CandidateDetails>(std::move(details))) {}
  DetailsBox(const DetailsBox& other)
      : ptr_(other.ptr_ ? std::make_unique<CandidateDetails>(*other.ptr_) : nullptr) {}
  DetailsBox(DetailsBox&&) noexcept = default;
  DetailsBox& operator=(const DetailsBox& other) {
    if (this != &other) *this = DetailsBox(other);
    return *this;
  }
  DetailsBox& operator=(DetailsBox&&) noexcept = default;

  // Returns the details, or nullptr when every detail is absent.
  [[nodiscard]] const CandidateDetails* get() const { return ptr_.get(); }
  // Returns the details, creating an all-absent record on first use.
  CandidateDetails& mut() {
    if (!ptr_) ptr_ = std::make_unique<CandidateDetails>();
    return *ptr_;
  }

  friend bool operator==(const DetailsBox& a, const DetailsBox& b) {
    static const CandidateDetails kNone;
    return (a.ptr_ ? *a.ptr_ : kNone) == (b.ptr_ ? *b.ptr_ : kNone);
  }

 private:
  std::unique_ptr<CandidateDetails> ptr_;
};

// One row of the candidates table: one proposed annotation of one query.
struct Candidate : CandidateFields<std::string> {
  // smiles, inchikey, formula, target_inchikey and group.
  DetailsBox details;

  friend bool operator==(const Candidate&, const Candidate&) = default;
};

// One query with its candidates in file order (not sorted by rank).
struct QueryRanking {
  std::string query_id;
  std::vector<Candidate> candidates;
};

}  // namespace ferolin::reference
