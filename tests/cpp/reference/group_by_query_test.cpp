#include "reference/group_by_query.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ferolin::reference {
namespace {

Candidate candidate(std::string query, std::string id, std::uint64_t rank = 1) {
  Candidate c;
  c.query_id = std::move(query);
  c.candidate_id = std::move(id);
  c.rank = rank;
  return c;
}

// Returns "query:candidate candidate|query:..." for compact comparisons.
std::string layout(const std::vector<QueryRanking>& rankings) {
  std::string out;
  for (const QueryRanking& ranking : rankings) {
    if (!out.empty()) out += '|';
    out += ranking.query_id + ':';
    for (const Candidate& c : ranking.candidates) {
      EXPECT_EQ(c.query_id, ranking.query_id);
      out += c.candidate_id;
    }
  }
  return out;
}

TEST(GroupByQueryTest, SortsIdentifiersByRawBytesAndKeepsFileOrder) {
  const struct {
    std::vector<Candidate> input;
    std::string layout;
  } cases[] = {
      {{}, ""},
      {{candidate("q2", "A"), candidate("q1", "B"), candidate("q2", "C")}, "q1:B|q2:AC"},
      {{candidate("10", "a"), candidate("2", "b"), candidate("1", "c")}, "1:c|10:a|2:b"},
      {{candidate("q1", "a"), candidate("Q1", "b")}, "Q1:b|q1:a"},
      {{candidate("b", "x"), candidate("", "y"), candidate("a", "z")}, ":y|a:z|b:x"},
      // Bytes compare unsigned: a non-ASCII identifier sorts after "z".
      {{candidate("\xC3\xA9", "1"), candidate("z", "2"), candidate("zz", "3")},
       "z:2|zz:3|\xC3\xA9:1"},
      {{candidate("q", "3", 3), candidate("r", "x"), candidate("q", "1", 1),
        candidate("q", "2", 2)},
       "q:312|r:x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(layout(group_by_query(c.input)), c.layout);
  }
}

TEST(GroupByQueryTest, MovesCandidatesWithTheirDetails) {
  std::vector<Candidate> input = {candidate("q", "a"), candidate("p", "b")};
  input[0].details.mut().smiles = std::string(100, 'C');
  input[0].probability = 0.25;
  const char* smiles_bytes = input[0].details.get()->smiles->data();
  const auto rankings = group_by_query(std::move(input));
  ASSERT_EQ(rankings.size(), 2u);
  const Candidate& moved = rankings[1].candidates[0];
  EXPECT_EQ(moved.probability, 0.25);
  // The very same heap buffer: moved, not copied.
  EXPECT_EQ(moved.details.get()->smiles->data(), smiles_bytes);
}

}  // namespace
}  // namespace ferolin::reference
