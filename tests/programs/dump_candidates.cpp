// Prints what read_candidates returns for a table: one JSON object per
// record, or one {"error": message} line (exit status 1). Floats are given
// as their shortest round-trip text so that tests can compare them exactly.
// Usage: dump_candidates PATH [--no-details]
#include <charconv>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "reference/read_candidates.h"

namespace {

using nlohmann::json;

std::string float_text(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

template <typename T, typename Convert>
json optional_json(const std::optional<T>& value, Convert convert) {
  return value ? json(convert(*value)) : json(nullptr);
}

json candidate_json(const ferolin::reference::Candidate& candidate) {
  const auto same = [](const auto& v) { return v; };
  static const ferolin::reference::CandidateDetails kNoDetails;
  const ferolin::reference::CandidateDetails* details = candidate.details.get();
  if (details == nullptr) details = &kNoDetails;
  return json{
      {"query_id", candidate.query_id},
      {"candidate_id", candidate.candidate_id},
      {"rank", candidate.rank},
      {"score", float_text(candidate.score)},
      {"probability", optional_json(candidate.probability, float_text)},
      {"smiles", optional_json(details->smiles, same)},
      {"inchikey", optional_json(details->inchikey, same)},
      {"formula", optional_json(details->formula, same)},
      {"target_inchikey", optional_json(details->target_inchikey, same)},
      {"is_correct", optional_json(candidate.is_correct, same)},
      {"group", optional_json(details->group, same)},
      {"details_boxed", candidate.details.get() != nullptr},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: dump_candidates PATH [--no-details]\n";
    return 2;
  }
  ferolin::reference::ReadOptions options;
  options.keep_details = !(argc > 2 && std::string_view(argv[2]) == "--no-details");
  const auto candidates = ferolin::reference::read_candidates(argv[1], options);
  if (!candidates) {
    std::cout << json{{"error", candidates.error().message()}}.dump() << '\n';
    return 1;
  }
  for (const auto& candidate : *candidates) {
    std::cout << candidate_json(candidate).dump(-1, ' ', false, json::error_handler_t::replace)
              << '\n';
  }
  return 0;
}
