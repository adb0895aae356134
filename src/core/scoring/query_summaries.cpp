#include "core/scoring/query_summaries.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace ferolin::scoring {
namespace {

constexpr std::size_t kPrefixWords = 3;

// A key's first 24 bytes, zero-padded, as big-endian words: comparing the
// words in order compares the bytes as unsigned char. Held inline so that
// most comparisons of a large sort touch no key in the hash nodes.
struct PrefixedPosition {
  std::array<std::uint64_t, kPrefixWords> prefix{};
  std::size_t position = 0;
};

std::array<std::uint64_t, kPrefixWords> prefix_of(const std::string& key) {
  std::array<unsigned char, kPrefixWords * 8> bytes{};
  std::memcpy(bytes.data(), key.data(), std::min(key.size(), bytes.size()));
  std::array<std::uint64_t, kPrefixWords> words{};
  for (std::size_t i = 0; i < kPrefixWords; ++i) {
    std::uint64_t word = 0;
    for (std::size_t j = 0; j < 8; ++j) word = (word << 8) | bytes[i * 8 + j];
    words[i] = word;
  }
  return words;
}

// Returns the positions of `nodes` in ascending order of the bytes of their
// keys (unsigned, a proper prefix first). Unequal prefixes decide the order
// as the whole keys would: where one key ends, its zero padding sorts at or
// below any byte of the other. Equal prefixes fall back to the keys.
template <typename Node>
std::vector<std::size_t> order_by_bytes(const std::vector<Node>& nodes) {
  std::vector<PrefixedPosition> entries(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) entries[i] = {prefix_of(nodes[i].key()), i};
  std::sort(entries.begin(), entries.end(),
            [&nodes](const PrefixedPosition& a, const PrefixedPosition& b) {
              if (a.prefix != b.prefix) return a.prefix < b.prefix;
              // std::string compares its bytes as unsigned char.
              return nodes[a.position].key() < nodes[b.position].key();
            });
  std::vector<std::size_t> order(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) order[i] = entries[i].position;
  return order;
}

}  // namespace

void QuerySummaries::add(std::string_view query_id, const CandidateView& candidate) {
  add_candidate(summary_for(query_id), candidate, ids_, entropy_);
}

QuerySummary& QuerySummaries::summary_for(std::string_view query_id) {
  if (last_ != kNone && query_id == last_id_) return summaries_[last_];
  auto found = index_.find(query_id);
  if (found == index_.end()) {
    found = index_.emplace(std::string(query_id), summaries_.size()).first;
    summaries_.emplace_back();
  }
  last_id_ = found->first;
  last_ = found->second;
  return summaries_[last_];
}

void QuerySummaries::forget_last() {
  last_id_ = {};
  last_ = kNone;
}

std::vector<KeyedSummary> QuerySummaries::take_sorted() {
  forget_last();
  // Nodes are extracted so that the keys can be moved out rather than copied.
  std::vector<Index::node_type> nodes;
  nodes.reserve(index_.size());
  while (!index_.empty()) nodes.push_back(index_.extract(index_.begin()));
  std::vector<KeyedSummary> sorted;
  sorted.reserve(nodes.size());
  for (std::size_t at : order_by_bytes(nodes)) {
    Index::node_type& node = nodes[at];
    sorted.push_back({std::move(node.key()), std::move(summaries_[node.mapped()])});
  }
  summaries_.clear();
  return sorted;
}

std::vector<QuerySummary> QuerySummaries::take_unordered() {
  forget_last();
  index_.clear();
  return std::exchange(summaries_, {});
}

}  // namespace ferolin::scoring
