#include "reference/read_candidates.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ferolin::reference {
namespace {

constexpr std::string_view kHeader = "query_id,candidate_id,rank,score\n";

class ReadCandidatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("ferolin_reader_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(std::string_view name, std::string_view bytes) const {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  // Returns the error text of reading `bytes`, or "" when the read succeeds.
  std::string error_of(std::string_view bytes) const {
    const auto result = read_candidates(write("t.csv", bytes));
    return result ? "" : result.error().message();
  }

  std::filesystem::path dir_;
};

Candidate candidate(std::string query, std::string id, std::uint64_t rank, double score) {
  Candidate c;
  c.query_id = std::move(query);
  c.candidate_id = std::move(id);
  c.rank = rank;
  c.score = score;
  return c;
}

TEST_F(ReadCandidatesTest, ReadsEveryColumnInAnyOrderIgnoringOthers) {
  const auto path = write("t.csv",
                          "notes,is_correct,score,target_inchikey,rank,formula,candidate_id,"
                          "inchikey,probability,notes,smiles,query_id\n"
                          "n1,true,0.5,TGT,1,C2H6O,c1,KEY,0.25,n2,CCO,q1\n"
                          ",,-1e3,,0x2,,c2,,,,,q1\n"
                          "n,false,.5,,+3,,\" c,3 \",,NaN,n,,\"\"\n");
  const auto result = read_candidates(path);
  ASSERT_TRUE(result.has_value()) << result.error().message();
  ASSERT_EQ(result->size(), 3u);

  Candidate first = candidate("q1", "c1", 1, 0.5);
  first.probability = 0.25;
  first.is_correct = true;
  first.details.mut() = {"CCO", "KEY", "C2H6O", "TGT", std::nullopt};
  EXPECT_EQ((*result)[0], first);

  EXPECT_EQ((*result)[1], candidate("q1", "c2", 2, -1000.0));
  EXPECT_EQ((*result)[1].details.get(), nullptr);

  const Candidate& third = (*result)[2];
  EXPECT_EQ(third.query_id, "");
  EXPECT_EQ(third.candidate_id, " c,3 ");
  EXPECT_EQ(third.rank, 3u);
  ASSERT_TRUE(third.probability.has_value());
  EXPECT_TRUE(std::isnan(*third.probability));
  EXPECT_EQ(third.is_correct, false);
  EXPECT_EQ(third.details.get(), nullptr);
}

TEST_F(ReadCandidatesTest, WithoutDetailsTheyAreCheckedButNotKept) {
  const std::string table =
      std::string(kHeader.substr(0, kHeader.size() - 1)) + ",smiles,formula\nq,c,1,2,CCO,CH4\n";
  const auto result = read_candidates(write("t.csv", table), {.keep_details = false});
  ASSERT_TRUE(result.has_value());
  ASSERT_EQ(result->size(), 1u);
  EXPECT_EQ((*result)[0].details.get(), nullptr);

  const auto bad =
      read_candidates(write("bad.csv", table + "q,c,1,2,C\xFF,CH4\n"), {.keep_details = false});
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().message(),
            "CSV error: CSV parse error: record 2 (line 3, field: 4, byte: 64): invalid utf-8: "
            "invalid UTF-8 in field 4 near byte index 1");
}

TEST_F(ReadCandidatesTest, HeaderChecks) {
  const struct {
    std::string_view table;
    std::string_view error;
  } cases[] = {
      {"", "Missing required column: query_id"},
      {"\n\r\n", "Missing required column: query_id"},
      {"\xEF\xBB\xBF", "Missing required column: query_id"},
      {"candidate_id,rank,score\n", "Missing required column: query_id"},
      {"query_id,rank\n", "Missing required column: candidate_id"},
      {"query_id,candidate_id, rank,score\n", "Missing required column: rank"},
      {"query_id,candidate_id,Rank,score\n", "Missing required column: rank"},
      {"query_id,candidate_id,rank,score \n", "Missing required column: score"},
      {"\xEF\xBB\xBFquery_id,candidate_id,rank,score\n", ""},
      {"query_id,candidate_id,rank,score", ""},
      {"query_id,candidate_id,rank,score,score\n", ""},
      {"notes,query_id,notes,candidate_id,rank,score\nx,q,y,c,1,2\n", ""},
      {"query_id,candidate_id,rank,score,score\nq,c,1,2,3\n",
       "CSV error: CSV deserialize error: record 1 (line: 2, byte: 39): duplicate field `score`"},
      // Fields left of the second naming are converted first.
      {"query_id,candidate_id,rank,score,rank\nq,c,x,1,1\n",
       "CSV error: CSV deserialize error: record 1 (line: 2, byte: 38): field 2: invalid digit "
       "found in string"},
      {"query_id,candidate_id\xFF,rank,score\n",
       "CSV error: CSV parse error: record 0 (line 1, field: 1, byte: 0): invalid utf-8: invalid "
       "UTF-8 in field 1 near byte index 12"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(c.table), c.error) << c.table;
}

TEST_F(ReadCandidatesTest, CellAndRecordErrorTexts) {
  const struct {
    std::string_view rows;  // after kHeader (33 bytes)
    std::string_view error;
  } cases[] = {
      {"q,c,,1\n", "record 1 (line: 2, byte: 33): field 2: cannot parse integer from empty string"},
      {"q,c,1.0,1\n", "record 1 (line: 2, byte: 33): field 2: invalid digit found in string"},
      {"q,c,1,1\r\nq,c,18446744073709551616,1\n",
       "record 2 (line: 3, byte: 42): field 2: number too large to fit in target type"},
      {"q,c,1,\n", "record 1 (line: 2, byte: 33): field 3: cannot parse float from empty string"},
      {"\n\nq,c,1,0x1p3\n", "record 1 (line: 4, byte: 35): field 3: invalid float literal"},
      {"q,c,x,y\n", "record 1 (line: 2, byte: 33): field 2: invalid digit found in string"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(std::string(kHeader) + std::string(c.rows)),
              "CSV error: CSV deserialize error: " + std::string(c.error))
        << c.rows;
  }
  const std::string optional_header =
      "query_id,candidate_id,rank,score,probability,is_correct\n";  // 56 bytes
  EXPECT_EQ(error_of(optional_header + "q,c,1,2,,\nq,c,1,2,1e,\n"),
            "CSV error: CSV deserialize error: record 2 (line: 3, byte: 66): field 4: invalid "
            "float literal");
  EXPECT_EQ(error_of(optional_header + "q,c,1,2,,True\n"),
            "CSV error: CSV deserialize error: record 1 (line: 2, byte: 56): field 5: provided "
            "string was not `true` or `false`");
  EXPECT_EQ(error_of(std::string(kHeader) + "q,c,1,2\nq,\"c\nd\",1\n"),
            "CSV error: CSV error: record 2 (line: 3, byte: 41): found record with 3 fields, but "
            "the previous record has 4 fields");
  EXPECT_EQ(error_of(std::string(kHeader) + "q,c,1,2\nq,\"c\"d,1,2\nq,c,1,2\n"),
            "CSV error: CSV parse error: record 2 (line 3, field: 1, byte: 41): unexpected "
            "character after closing quote");
  EXPECT_EQ(error_of(std::string(kHeader) + "q,c,1,2\nq,\"c,1,2\nq,c,1,2\n"),
            "CSV error: CSV parse error: record 2 (line 3, field: 1, byte: 41): quoted field not "
            "closed before end of file");
}

// A failure far into the file (past the first read chunks) still returns
// no records, with the failing row's exact position.
TEST_F(ReadCandidatesTest, LateFailureReturnsNothingAfterManyGoodRows) {
  std::string table(kHeader);
  for (int i = 0; i < 20000; ++i)
    table.append("query").append(std::to_string(i)).append(",c,1,0.5\r\n");
  const std::size_t offset = table.size();
  const auto whole = read_candidates(write("whole.csv", table));
  ASSERT_TRUE(whole.has_value());
  ASSERT_EQ(whole->size(), 20000u);
  EXPECT_EQ(whole->back().query_id, "query19999");
  table += "q,c,-1,0.5\r\n";
  EXPECT_EQ(error_of(table), "CSV error: CSV deserialize error: record 20001 (line: 20002, byte: " +
                                 std::to_string(offset) +
                                 "): field 2: invalid digit found in string");
}

TEST_F(ReadCandidatesTest, QuotingAndLineEndVariantsReadTheSame) {
  const std::string plain =
      "query_id,candidate_id,rank,score,smiles\nq1,c1,1,0.5,CCO\nq2,c2,2,-1,\n";
  const std::string variants[] = {
      "query_id,candidate_id,rank,score,smiles\r\nq1,c1,1,0.5,CCO\r\nq2,c2,2,-1,\r\n",
      "query_id,candidate_id,rank,score,smiles\rq1,c1,1,0.5,CCO\rq2,c2,2,-1,",
      "\"query_id\",\"candidate_id\",\"rank\",\"score\",\"smiles\"\n"
      "\"q1\",\"c1\",\"1\",\"0.5\",\"CCO\"\n\"q2\",\"c2\",\"2\",\"-1\",\"\"\n",
      "\xEF\xBB\xBFquery_id,candidate_id,rank,score,smiles\n\nq1,c1,1,0.5,CCO\n\r\n\nq2,c2,2,-1,"
      "\n\n",
  };
  const auto expected = read_candidates(write("plain.csv", plain));
  ASSERT_TRUE(expected.has_value());
  ASSERT_EQ(expected->size(), 2u);
  for (const std::string& variant : variants) {
    const auto result = read_candidates(write("variant.csv", variant));
    ASSERT_TRUE(result.has_value()) << variant;
    EXPECT_EQ(*result, *expected) << variant;
  }
}

TEST_F(ReadCandidatesTest, PathRules) {
  const std::string table = std::string(kHeader) + "q,c,1,2\n";
  const std::string parquet_text =
      "Parquet input detected but ferolin was compiled without the 'parquet' feature; "
      "recompile with --features parquet";
  // Refused without being opened: these files do not exist.
  for (const std::string_view name : {"data.parquet", "x.y.parquet", "..parquet"}) {
    const auto result = read_candidates((dir_ / name).string());
    ASSERT_FALSE(result.has_value()) << name;
    EXPECT_EQ(result.error().kind, ErrorKind::ParquetNotCompiled) << name;
    EXPECT_EQ(result.error().message(), parquet_text);
  }
  for (const std::string_view name : {"data.PARQUET", "parquet", ".parquet", "parquet.csv"}) {
    const auto result = read_candidates(write(name, table));
    ASSERT_TRUE(result.has_value()) << name << ": " << result.error().message();
    EXPECT_EQ(result->size(), 1u) << name;
  }
  EXPECT_EQ(read_candidates((dir_ / "missing.csv").string()).error().message(),
            "CSV error: No such file or directory (os error 2)");
  EXPECT_EQ(read_candidates(dir_.string()).error().message(),
            "CSV error: Is a directory (os error 21)");
  // Cut at the NUL, this path would name a readable table.
  const std::string good = write("t.csv", table);
  const std::string with_nul = good + std::string("\0.other", 7);
  const auto result = read_candidates(with_nul);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "CSV error: path contains a NUL byte");
}

TEST_F(ReadCandidatesTest, ReadsFromAFifo) {
  const std::string path = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::string table(kHeader);
  for (int i = 0; i < 30000; ++i)
    table.append("q").append(std::to_string(i % 7)).append(",c,1,0.5\n");
  std::thread writer([&] {
    std::ofstream out(path, std::ios::binary);
    for (std::size_t at = 0; at < table.size(); at += 1000) {
      out << table.substr(at, 1000) << std::flush;
    }
  });
  const auto result = read_candidates(path);
  writer.join();
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_EQ(result->size(), 30000u);
  EXPECT_EQ(result->back().query_id, std::string("q").append(std::to_string(29999 % 7)));
}

}  // namespace
}  // namespace ferolin::reference
