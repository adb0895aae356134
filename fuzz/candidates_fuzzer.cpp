// Fuzz target: the candidates-table reader. Whatever the bytes, reading ends
// with rows or with one error of the documented forms; the bytes fed whole,
// in 1-byte, 7-byte and 64 KiB chunks give the same rows, positions and
// error; the source that converts only on demand gives the same values and
// error; and rows that were read, written back as CSV, read back the same.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chunked_input.h"
#include "core/table/checked_row_source.h"
#include "fuzz_check.h"
#include "reference/candidate_row_source.h"
#include "reference/read_candidates.h"

namespace ferolin::fuzz {
namespace {

using reference::Candidate;
using reference::CandidateDetails;
using reference::CandidateRowSource;
using reference::DetailsBox;

// A row as a Candidate that owns its texts, with where the row starts.
struct OwnedRow {
  Candidate values;
  table::RecordPosition position;
};

struct Outcome {
  std::vector<OwnedRow> rows;
  std::optional<std::string> error;
};

void check_error_form(const FerolinError& error) {
  const std::string text = error.message();
  if (error.kind == ErrorKind::Csv || error.kind == ErrorKind::BadCell ||
      error.kind == ErrorKind::TooLong) {
    require(text.starts_with("CSV error: "), "a Csv error starts with \"CSV error: \"", text);
    return;
  }
  require(error.kind == ErrorKind::MissingColumn, "only Csv and MissingColumn errors", text);
  const std::string_view column = std::string_view(text).substr(text.find(": ") + 2);
  require(text.starts_with("Missing required column: ") &&
              (column == "query_id" || column == "candidate_id" || column == "rank" ||
               column == "score"),
          "a MissingColumn error names a required column", text);
}

Outcome read_all(std::string_view bytes, std::size_t chunk_size,
                 std::optional<std::uint64_t> size_hint) {
  Outcome outcome;
  auto source = CandidateRowSource::from_chunks(chunks_of(bytes, chunk_size), size_hint);
  if (!source) {
    check_error_form(source.error());
    outcome.error = source.error().message();
    return outcome;
  }
  while (true) {
    const auto row = source->next();
    if (!row) {
      check_error_form(row.error());
      outcome.error = row.error().message();
      const auto again = source->next();
      require(!again && again.error().message() == *outcome.error,
              "a failed source repeats its failure", *outcome.error);
      return outcome;
    }
    if (*row == nullptr) return outcome;
    outcome.rows.push_back({reference::to_candidate(**row), source->position()});
  }
}

// Reads the bytes with the source that converts only on demand, every
// value asked for. Details are not handed out, so they stay absent.
Outcome read_checked(std::string_view bytes, std::size_t chunk_size, bool every_probability) {
  Outcome outcome;
  auto source = table::CheckedRowSource::from_chunks(
      chunks_of(bytes, chunk_size), std::nullopt, {},
      {.candidate_id = true, .every_probability = every_probability});
  if (!source) {
    outcome.error = source.error().message();
    return outcome;
  }
  while (true) {
    const auto row = source->next();
    if (!row) {
      outcome.error = row.error().message();
      return outcome;
    }
    if (*row == nullptr) return outcome;
    const table::CheckedRow& r = **row;
    OwnedRow owned;
    owned.values.query_id = r.query_id;
    owned.values.candidate_id = r.candidate_id;
    owned.values.rank = r.rank;
    owned.values.score = r.score_value();
    owned.values.probability = r.probability_value();
    owned.values.is_correct = r.is_correct;
    outcome.rows.push_back(std::move(owned));
  }
}

bool same_double(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) {
    return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  }
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_optional(std::optional<double> a, std::optional<double> b) {
  return a.has_value() == b.has_value() && (!a || same_double(*a, *b));
}

const CandidateDetails& details_of(const Candidate& c) {
  static const CandidateDetails kNone;
  return c.details.get() != nullptr ? *c.details.get() : kNone;
}

bool same_values(const Candidate& a, const Candidate& b) {
  return a.query_id == b.query_id && a.candidate_id == b.candidate_id && a.rank == b.rank &&
         same_double(a.score, b.score) && same_optional(a.probability, b.probability) &&
         a.is_correct == b.is_correct && a.details == b.details;
}

std::string describe(const Outcome& outcome) {
  return outcome.error ? "error: " + *outcome.error : std::to_string(outcome.rows.size()) + " rows";
}

void require_same(const Outcome& a, const Outcome& b, std::string_view what) {
  bool same = a.error == b.error && a.rows.size() == b.rows.size();
  for (std::size_t i = 0; same && i < a.rows.size(); ++i) {
    same =
        same_values(a.rows[i].values, b.rows[i].values) && a.rows[i].position == b.rows[i].position;
  }
  require(same, what, describe(a) + " vs " + describe(b));
}

// The checked source must fail where the converting source fails, with the
// same message, and otherwise give the same values.
void require_same_checked(const Outcome& whole, const Outcome& checked) {
  bool same = whole.error == checked.error && whole.rows.size() == checked.rows.size();
  for (std::size_t i = 0; same && i < whole.rows.size(); ++i) {
    Candidate without_details = whole.rows[i].values;
    without_details.details = DetailsBox();
    same = same_values(without_details, checked.rows[i].values);
  }
  require(same, "the checked source reads as the converting source",
          describe(whole) + " vs " + describe(checked));
}

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void append_number(std::string& out, double value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

void append_optional(std::string& out, const std::optional<std::string>& text) {
  out += ',';
  if (text) append_quoted(out, *text);
}

// The rows as a table of the ten known columns, every text quoted.
std::string write_table(const std::vector<OwnedRow>& rows) {
  std::string out =
      "query_id,candidate_id,rank,score,probability,smiles,inchikey,formula,target_inchikey,"
      "is_correct\r\n";
  for (const OwnedRow& owned : rows) {
    const Candidate& row = owned.values;
    const CandidateDetails& details = details_of(row);
    append_quoted(out, row.query_id);
    out += ',';
    append_quoted(out, row.candidate_id);
    out += ',' + std::to_string(row.rank) + ',';
    append_number(out, row.score);
    out += ',';
    if (row.probability) append_number(out, *row.probability);
    append_optional(out, details.smiles);
    append_optional(out, details.inchikey);
    append_optional(out, details.formula);
    append_optional(out, details.target_inchikey);
    out += ',';
    if (row.is_correct) out += *row.is_correct ? "true" : "false";
    out += "\r\n";
  }
  return out;
}

void check_round_trip(const std::vector<OwnedRow>& rows) {
  const std::string table = write_table(rows);
  const Outcome again = read_all(table, table.size(), table.size());
  require(!again.error && again.rows.size() == rows.size(), "written rows read back",
          describe(again));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    require(same_values(rows[i].values, again.rows[i].values), "written rows read back the same",
            "row " + std::to_string(i));
  }
}

}  // namespace
}  // namespace ferolin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ferolin::fuzz;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const Outcome whole = read_all(bytes, std::max<std::size_t>(size, 1), size);
  require_same(whole, read_all(bytes, 1, std::nullopt), "1-byte chunks read the same");
  require_same(whole, read_all(bytes, 7, std::nullopt), "7-byte chunks read the same");
  require_same(whole, read_all(bytes, 64 * 1024, size), "64 KiB chunks read the same");
  require_same_checked(whole, read_checked(bytes, 7, false));
  require_same_checked(whole, read_checked(bytes, std::max<std::size_t>(size, 1), true));
  if (!whole.error) check_round_trip(whole.rows);
  return 0;
}
