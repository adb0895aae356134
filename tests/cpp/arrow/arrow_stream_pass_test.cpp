// The pass over an Arrow C stream, through a stream built by hand: the same
// per-query table as the CSV text of the same rows, array offsets respected,
// and every struct (stream, schema, each batch) released exactly once,
// also when the read stops early with an error.
#include "core/arrow/arrow_stream_pass.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace ferolin::arrow {
namespace {

struct Releases {
  int stream = 0;
  int schema = 0;
  int batches = 0;
};

// One column: a format and its buffers, owned by the test.
struct FakeColumn {
  std::string name;
  std::string format;
  std::vector<const void*> buffers;
  ArrowArray array{};
  ArrowSchema schema{};
};

struct FakeBatch {
  std::int64_t length = 0;
  std::int64_t offset = 0;
  std::vector<FakeColumn*> columns;
};

struct FakeStream {
  std::vector<FakeColumn>* schema_columns = nullptr;
  std::vector<FakeBatch> batches;
  std::size_t next = 0;
  Releases* releases = nullptr;
  std::vector<ArrowSchema*> schema_children{};
  // Per handed-out batch: its children pointers.
  std::vector<std::vector<ArrowArray*>> children{};
};

void release_schema(ArrowSchema* schema) {
  static_cast<FakeStream*>(schema->private_data)->releases->schema += 1;
  schema->release = nullptr;
}

void release_batch(ArrowArray* array) {
  static_cast<FakeStream*>(array->private_data)->releases->batches += 1;
  array->release = nullptr;
}

int get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  auto* fake = static_cast<FakeStream*>(stream->private_data);
  fake->schema_children.clear();
  for (FakeColumn& column : *fake->schema_columns) {
    column.schema = {};
    column.schema.format = column.format.c_str();
    column.schema.name = column.name.c_str();
    fake->schema_children.push_back(&column.schema);
  }
  *out = {};
  out->format = "+s";
  out->n_children = static_cast<std::int64_t>(fake->schema_children.size());
  out->children = fake->schema_children.data();
  out->release = release_schema;
  out->private_data = fake;
  return 0;
}

int get_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* fake = static_cast<FakeStream*>(stream->private_data);
  *out = {};
  if (fake->next == fake->batches.size()) return 0;  // the end: release stays null
  const FakeBatch& batch = fake->batches[fake->next++];
  std::vector<ArrowArray*>& children = fake->children.emplace_back();
  for (FakeColumn* column : batch.columns) {
    column->array.n_buffers = static_cast<std::int64_t>(column->buffers.size());
    column->array.buffers = column->buffers.data();
    children.push_back(&column->array);
  }
  out->length = batch.length;
  out->offset = batch.offset;
  out->n_children = static_cast<std::int64_t>(children.size());
  out->children = children.data();
  out->release = release_batch;
  out->private_data = fake;
  return 0;
}

const char* last_error(ArrowArrayStream*) { return "no error"; }

void release_stream(ArrowArrayStream* stream) {
  static_cast<FakeStream*>(stream->private_data)->releases->stream += 1;
  stream->release = nullptr;
}

ArrowArrayStream stream_of(FakeStream& fake) {
  return {get_schema, get_next, last_error, release_stream, &fake};
}

// Rows (query, rank, score), one row before those read (the batch offset)
// and an extra column of doubles that the pass never reads.
struct Table {
  std::vector<std::int32_t> offsets = {0, 1, 2, 3, 4, 5, 6, 7};
  std::string ids = "xaabbab";  // row 0 ("x") lies before the batch's offset
  std::vector<std::int16_t> ranks = {9, 2, 1, 1, 1, 1, 3};
  std::vector<double> scores = {0.0, 0.5, 0.25, 2.0, 3.0, 1.0, 7.0};
  std::vector<std::uint8_t> rank_validity = {0xff};
  std::vector<FakeColumn> columns;

  Table() {
    columns.push_back({"query_id", "u", {nullptr, offsets.data(), ids.data()}});
    columns.push_back({"candidate_id", "u", {nullptr, offsets.data(), ids.data()}});
    columns.push_back({"extra", "g", {nullptr, scores.data()}});
    columns.push_back({"rank", "s", {nullptr, ranks.data()}});
    columns.push_back({"score", "g", {nullptr, scores.data()}});
    for (FakeColumn& column : columns) column.array.length = 7;
  }

  // Two batches over the same buffers: rows 1-3 and rows 4-6.
  std::vector<FakeBatch> batches() {
    std::vector<FakeColumn*> all;
    for (FakeColumn& column : columns) all.push_back(&column);
    return {{3, 1, all}, {3, 4, all}};
  }
};

pipeline::PassRequest request() {
  pipeline::PassRequest request;
  request.methods = {ScoringMethod::ScoreGap};
  request.keep_ids = true;
  return request;
}

// Reads the table's two batches through a fake stream.
Result<pipeline::QueryTable> read_table(Table& table, Releases& releases,
                                        const pipeline::PassRequest& pass) {
  FakeStream fake{&table.columns, table.batches(), 0, &releases};
  ArrowArrayStream stream = stream_of(fake);
  std::vector<std::string> header;
  return run_arrow_query_pass(&stream, pass, header);
}

TEST(ArrowStreamPass, EqualsTheCsvTextOfTheSameRows) {
  Table table;
  Releases releases;
  FakeStream fake{&table.columns, table.batches(), 0, &releases};
  ArrowArrayStream stream = stream_of(fake);
  std::vector<std::string> header;
  const auto read = run_arrow_query_pass(&stream, request(), header);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(stream.release, nullptr);  // moved out
  EXPECT_EQ(header, (std::vector<std::string>{"query_id", "candidate_id", "extra", "rank",
                                              "score"}));
  const std::string csv =
      "query_id,candidate_id,rank,score\na,a,2,0.5\na,a,1,0.25\nb,b,1,2\nb,b,1,3\n"
      "a,a,1,1\nb,b,3,7\n";
  bool given = false;
  const auto expected = pipeline::run_query_pass(
      [&]() -> Result<std::string_view> {
        if (given) return std::string_view();
        given = true;
        return std::string_view(csv);
      },
      csv.size(), request());
  ASSERT_TRUE(expected) << expected.error().message();
  ASSERT_EQ(read->size(), expected->size());
  EXPECT_EQ(read->rows, 6U);
  for (std::size_t q = 0; q < read->size(); ++q) {
    EXPECT_EQ(read->query_ids[q], expected->query_ids[q]);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(read->top_scores[q]),
              std::bit_cast<std::uint64_t>(expected->top_scores[q]));
    EXPECT_EQ(read->confidences[0][q], expected->confidences[0][q]);
    EXPECT_EQ(read->candidates[q], expected->candidates[q]);
  }
  EXPECT_EQ(releases.stream, 1);
  EXPECT_EQ(releases.schema, 1);
  EXPECT_EQ(releases.batches, 2);
}

TEST(ArrowStreamPass, ANullRankStopsTheReadAndReleasesEverythingOnce) {
  Table table;
  table.rank_validity = {0xff & ~(1 << 5)};  // row 5: the second batch's second row
  table.columns[3].buffers[0] = table.rank_validity.data();
  table.columns[3].array.null_count = 1;
  Releases releases;
  const auto read = read_table(table, releases, request());
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message(), "Arrow table error: row 5, column 'rank' (int16) is null; "
                                    "every row needs one");
  EXPECT_EQ(releases.stream, 1);
  EXPECT_EQ(releases.schema, 1);
  EXPECT_EQ(releases.batches, 2);
}

TEST(ArrowStreamPass, AColumnOfAnotherTypeAndAStoppedReadReleaseEverythingOnce) {
  {
    Table table;
    table.columns[4].format = "tdD";
    Releases releases;
    const auto read = read_table(table, releases, request());
    ASSERT_FALSE(read);
    EXPECT_NE(read.error().message().find("column 'score' has the Arrow type date32"),
              std::string::npos);
    EXPECT_EQ(releases.stream + releases.schema, 2);
    EXPECT_EQ(releases.batches, 0);
  }
  Table table;
  Releases releases;
  pipeline::PassRequest stopped = request();
  stopped.table.monitor.check = [](const os::ReadProgress&) -> Result<void> {
    return std::unexpected(FerolinError::invalid_argument("stopped"));
  };
  const auto read = read_table(table, releases, stopped);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message(), "stopped");
  EXPECT_EQ(releases.stream + releases.schema + releases.batches, 4);
}

}  // namespace
}  // namespace ferolin::arrow
