// CandidateRow: one converted row of a candidates table, as the row source
// hands it to its consumer. It views the source's buffers, so it is valid
// only until the source reads the next row; consumers copy what they keep.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ferolin::table {

struct CandidateRow {
  std::string_view query_id;
  std::string_view candidate_id;
  std::uint64_t rank = 0;
  double score = 0.0;
  std::optional<double> probability;
  std::optional<bool> is_correct;
  std::optional<std::string_view> smiles;
  std::optional<std::string_view> inchikey;
  std::optional<std::string_view> formula;
  std::optional<std::string_view> target_inchikey;
  // The cell of the group column, where one was asked for and is not empty.
  std::optional<std::string_view> group;
};

}  // namespace ferolin::table
