// What a tokenizer makes of an input (records, positions, the error), for
// comparing ferolin's CsvTokenizer with the libcsv reference in the tests,
// the fuzz targets and the benchmarks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/table/record_position.h"

namespace ferolin::reference {

struct Tokenized {
  std::vector<std::vector<std::string>> records;
  std::vector<table::RecordPosition> positions;
  std::string error;  // empty when the input was read to its end

  friend bool operator==(const Tokenized&, const Tokenized&) = default;
};

inline void PrintTo(const Tokenized& tokenized, std::ostream* out) {
  for (std::size_t i = 0; i < tokenized.records.size(); ++i) {
    const table::RecordPosition& at = tokenized.positions[i];
    *out << "\n  {record " << at.record << ", line " << at.line << ", byte " << at.byte << "}";
    for (const std::string& field : tokenized.records[i]) *out << " [" << field << "]";
  }
  *out << "\n  error: " << tokenized.error;
}

// Feeds `bytes` to `tokenizer` in chunks that end at `cuts` (increasing
// offsets inside `bytes`) and returns what it makes of them. Each chunk is
// copied into a block of its own that is freed when the tokenizer asks for
// the next one, so that a tokenizer that keeps a view of a chunk too long
// reads freed memory, which AddressSanitizer reports.
template <typename Tokenizer>
Tokenized tokenize(Tokenizer& tokenizer, std::string_view bytes,
                   const std::vector<std::size_t>& cuts = {}) {
  Tokenized out;
  std::unique_ptr<char[]> chunk;
  std::size_t offset = 0;
  std::size_t next_cut = 0;
  while (true) {
    const auto step = tokenizer.next();
    if (!step) {
      out.error = step.error().message();
      return out;
    }
    if (*step == Tokenizer::Step::End) return out;
    if (*step == Tokenizer::Step::NeedInput) {
      chunk.reset();
      if (offset == bytes.size()) {
        tokenizer.finish();
        continue;
      }
      const std::size_t end = next_cut < cuts.size() ? cuts[next_cut++] : bytes.size();
      chunk = std::make_unique<char[]>(end - offset);
      std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                bytes.begin() + static_cast<std::ptrdiff_t>(end), chunk.get());
      tokenizer.supply(std::string_view(chunk.get(), end - offset));
      offset = end;
      continue;
    }
    std::vector<std::string> fields;
    for (std::size_t i = 0; i < tokenizer.field_count(); ++i) {
      fields.emplace_back(tokenizer.field(i));
    }
    out.records.push_back(std::move(fields));
    out.positions.push_back(tokenizer.position());
  }
}

// Returns `tokenized` with the text of the fields at the positions `kept`
// leaves out (all from its size on) blanked: a tokenizer that skips those
// fields does not hand out their text.
inline Tokenized blank_skipped(Tokenized tokenized, const std::vector<bool>& kept) {
  for (auto& record : tokenized.records) {
    for (std::size_t i = 0; i < record.size(); ++i) {
      if (i >= kept.size() || !kept[i]) record[i].clear();
    }
  }
  return tokenized;
}

// Returns the cuts that make chunks of `size` bytes.
inline std::vector<std::size_t> cuts_every(std::size_t size, std::size_t total) {
  std::vector<std::size_t> cuts;
  for (std::size_t cut = size; cut < total; cut += size) cuts.push_back(cut);
  return cuts;
}

}  // namespace ferolin::reference
