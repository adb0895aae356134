#include "input/table_input.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <stop_token>
#include <string>
#include <vector>

#include "core/os/file_reader.h"
#include "support/policy_test_support.h"
#include "input/gzip_reader.h"
#include "input/sha256.h"

namespace ferolin::tools {
namespace {

// Returns `text` as one gzip member, compressed by zlib.
std::string gzip_member(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// Hands out `bytes` in pieces of `piece` bytes.
ByteReader pieces_of(std::string bytes, std::size_t piece) {
  return
      [bytes = std::move(bytes), piece, at = std::size_t{0}]() mutable -> Result<std::string_view> {
        const std::string_view out = std::string_view(bytes).substr(at, piece);
        at += out.size();
        return out;
      };
}

// Every way of inflating: each library, on the caller's thread and on one of its own.
const struct {
  Inflater kind;
  unsigned threads;
} kInflaters[] = {{Inflater::Zlib, 1}, {Inflater::Zlib, 2}, {fastest_inflater(), 1},
                  {fastest_inflater(), 2}};

Result<std::string> inflate_all(std::string compressed, std::size_t piece, Inflater kind,
                                unsigned threads) {
  Result<GzipReader> reader =
      GzipReader::open(pieces_of(std::move(compressed), piece), threads, kind);
  if (!reader) return std::unexpected(reader.error());
  std::string out;
  while (true) {
    Result<std::string_view> chunk = reader->read();
    if (!chunk) return std::unexpected(chunk.error());
    if (chunk->empty()) return out;
    out.append(*chunk);
  }
}

std::string table_text(int rows) {
  std::string text = "query_id,candidate_id,rank,score,Is_Correct\n";
  for (int i = 0; i < rows; ++i) {
    text += "q" + std::to_string(i / 7) + ",c" + std::to_string(i) + "," + std::to_string(i % 7) +
            "," + std::to_string(i % 13) + ".5,TRUE\n";
  }
  return text;
}

// Members back to back read as one stream, in pieces of any size; an empty
// member contributes nothing.
TEST(GzipReader, ConcatenatedMembersInAnyPieces) {
  const std::string a = table_text(3000);
  const std::string b = "q9,x,1,2.0,false\n";
  const std::string compressed = gzip_member(a) + gzip_member("") + gzip_member(b);
  for (const auto& way : kInflaters) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{65536}}) {
      const Result<std::string> out = inflate_all(compressed, piece, way.kind, way.threads);
      ASSERT_TRUE(out.has_value()) << piece << ": " << out.error().message();
      EXPECT_EQ(*out, a + b) << piece;
    }
  }
}

TEST(GzipReader, DamagedStreamsFailWithTheirCause) {
  const std::string good = gzip_member(table_text(200));
  std::string corrupt = good;
  corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x55);
  const struct {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"truncated", good.substr(0, good.size() - 9),
       "IO error: gzip: the data end inside a member (truncated file?)"},
      {"trailing garbage", good + "garbage",
       "IO error: gzip: the data after the last complete member are not gzip"},
      {"not gzip", "query_id\n", "IO error: gzip: incorrect header check"},
      {"corrupt", corrupt, "IO error: gzip: "},
  };
  for (const auto& way : kInflaters) {
    for (const auto& c : cases) {
      const Result<std::string> out = inflate_all(c.bytes, 4096, way.kind, way.threads);
      ASSERT_FALSE(out.has_value()) << c.name;
      EXPECT_TRUE(out.error().message().starts_with(c.message))
          << c.name << ": " << out.error().message();
    }
  }
}

std::string read_all(TableInput& input) {
  std::string out;
  while (true) {
    Result<std::string_view> chunk = input.read();
    EXPECT_TRUE(chunk.has_value());
    if (!chunk || chunk->empty()) return out;
    out.append(*chunk);
  }
}

// A table reads the same plain and compressed, whatever its name, and its
// header is kept; only the compressed read counts compressed bytes.
TEST(TableInput, PlainAndCompressedFilesReadTheSame) {
  test::ScratchDir dir;
  const std::string text = "\xEF\xBB\xBF" + table_text(5000);
  const std::string packed = gzip_member(text);
  test::write_file(dir.path() + "/plain.csv", text);
  test::write_file(dir.path() + "/packed.txt", packed);
  const std::vector<std::string> header = {"query_id", "candidate_id", "rank", "score",
                                           "Is_Correct"};
  for (const char* name : {"plain.csv", "packed.txt"}) {
    Result<TableInput> input = TableInput::open(dir.path() + "/" + name, ',');
    ASSERT_TRUE(input.has_value()) << name;
    EXPECT_EQ(read_all(*input), text) << name;
    EXPECT_EQ(input->header(), header) << name;
    const bool compressed = std::string(name) == "packed.txt";
    EXPECT_EQ(input->compressed(), compressed);
    EXPECT_EQ(input->file_bytes(), compressed ? packed.size() : text.size());
    EXPECT_EQ(input->size_hint().has_value(), !compressed);
  }
  const Result<TableInput> missing = TableInput::open(dir.path() + "/none.csv", ',');
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(), "CSV error: No such file or directory (os error 2)");
}

// The fingerprint of a table is that of its file's bytes (the compressed
// ones of a gzip file), also when the reader stops before the end.
TEST(TableInput, FingerprintsTheFileAsRead) {
  test::ScratchDir dir;
  const std::string text = table_text(20000);
  test::write_file(dir.path() + "/plain.csv", text);
  test::write_file(dir.path() + "/packed.csv.gz", gzip_member(text));
  for (const char* name : {"plain.csv", "packed.csv.gz"}) {
    const std::string path = dir.path() + "/" + name;
    Sha256 whole(Sha256::Engine::Portable);
    whole.update(test::read_file(path));
    for (const bool read_through : {true, false}) {
      Result<TableInput> input = TableInput::open(path, ',', true);
      ASSERT_TRUE(input.has_value());
      if (read_through) {
        EXPECT_EQ(read_all(*input), text);
      }
      const Result<std::optional<std::string>> digest = input->file_sha256();
      ASSERT_TRUE(digest.has_value() && digest->has_value());
      EXPECT_EQ(**digest, whole.hex_digest()) << name << " " << read_through;
      EXPECT_EQ(input->file_bytes(), test::read_file(path).size());
    }
  }
  Result<TableInput> unhashed = TableInput::open(dir.path() + "/plain.csv", ',');
  ASSERT_TRUE(unhashed.has_value());
  EXPECT_EQ(unhashed->file_sha256().value(), std::nullopt);
}

// A hash that is stopped (the table's read failed) fails at once instead of
// reading the rest of the file.
TEST(TableInput, StoppedFingerprintReadsNoFurther) {
  test::ScratchDir dir;
  const std::string path = dir.path() + "/large.csv";
  test::write_file(path, table_text(300000));
  Result<TableInput> input = TableInput::open(path, ',', true);
  ASSERT_TRUE(input.has_value());
  std::stop_source stop;
  stop.request_stop();
  const Result<std::optional<std::string>> digest = input->file_sha256(stop.get_token());
  ASSERT_FALSE(digest.has_value());
  EXPECT_LE(input->file_bytes(), os::kReadChunkSize);
  EXPECT_GT(test::read_file(path).size(), 2 * os::kReadChunkSize);
}

}  // namespace
}  // namespace ferolin::tools
