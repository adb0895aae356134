#include "reference/candidate_records.h"

#include <gtest/gtest.h>

namespace ferolin::reference {
namespace {

TEST(CandidateRecordsTest, CandidateDetailsCopyDeeplyAndCompareByValue) {
  Candidate a;
  a.query_id = "q";
  a.details.mut().smiles = "CCO";
  Candidate b = a;
  EXPECT_EQ(a, b);
  b.details.mut().smiles = "CCN";
  EXPECT_EQ(*a.details.get()->smiles, "CCO");
  EXPECT_NE(a, b);
  Candidate empty, all_absent;
  all_absent.details.mut();
  EXPECT_EQ(empty, all_absent);  // an all-absent box equals no box
}

}  // namespace
}  // namespace ferolin::reference
