// Stages of compute_curve over a candidates table, each run alone in one
// program, so that the differences between them show where the time goes:
// every stage runs the same machine code for the stages before it (stages
// timed in different programs do not subtract: where the linker puts a hot
// loop can move its time by 10%). Each run measures one mode and prints one
// JSON line; benchmarks/bench_curve_profile.py runs the modes and reports
// medians.
//
// Modes:
//   floor      read the file in chunks and do nothing else
//   tokenize   libcsv alone (for comparison): csv_parse over the same
//              chunks, no callbacks
//   tokenizer  CsvTokenizer: the structural scan and the record walker,
//              record positions and checks; no cell converted
//   count      CandidateRowSource: every known cell converted and checked
//   checked    CheckedRowSource as the curve of METHOD reads it: every
//              known cell checked, converted only on demand (here never)
//   summaries  the checked rows into QuerySummaries as the curve of METHOD
//              builds them: the lookup of each row's query and its summary
//   curve      curve_from_table, what compute_curve runs: all of the above,
//              then scoring and the curve
//   pass       run_query_pass with METHOD, what ferolin_tools reads a table
//              with: the threads of FEROLIN_NUM_THREADS (else every core)
//
// Usage: bench_curve MODE PATH [METHOD]   (METHOD as in policies: margin, max_prob, ...)
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "bench_util.h"
#include "core/os/file_reader.h"
#include "core/pipeline/query_pass.h"
#include "core/pipeline/table_functions.h"
#include "core/pipeline/table_summaries.h"
#include "core/scoring/query_summaries.h"
#include "core/table/checked_row_source.h"
#include "core/table/csv_tokenizer.h"

namespace {

using bench::die;
using ferolin::os::kReadChunkSize;

ferolin::ScoringMethod method_named(std::string_view name) {
  const auto method = ferolin::scoring_method_from_policy_name(name);
  if (!method) die("unknown method " + std::string(name));
  return *method;
}

// Returns the number of records, the header included.
std::uint64_t run_tokenizer(const std::string& path) {
  ferolin::os::FileReader file = bench::open_file(path, kReadChunkSize);
  ferolin::table::CsvTokenizer tokenizer;
  std::uint64_t records = 0;
  while (true) {
    const auto step = tokenizer.next();
    if (!step) die(step.error().message());
    if (*step == ferolin::table::CsvTokenizer::Step::End) return records;
    if (*step == ferolin::table::CsvTokenizer::Step::Record) {
      ++records;
      continue;
    }
    const auto chunk = file.read();
    if (!chunk) die(chunk.error().message());
    tokenizer.feed(*chunk);
  }
}

ferolin::table::CheckedRowSource open_checked(const std::string& path,
                                              ferolin::ScoringMethod method) {
  const auto needs = ferolin::scoring::needs_of(method);
  auto source = ferolin::table::CheckedRowSource::open(
      path, {}, ferolin::pipeline::row_needs(needs, ferolin::scoring::TopIds::Drop));
  if (!source) die(source.error().message());
  return std::move(*source);
}

// Returns the number of rows.
std::uint64_t run_checked(const std::string& path, ferolin::ScoringMethod method) {
  ferolin::table::CheckedRowSource source = open_checked(path, method);
  std::uint64_t rows = 0;
  while (true) {
    const auto row = source.next();
    if (!row) die(row.error().message());
    if (*row == nullptr) return rows;
    ++rows;
  }
}

// Returns the number of queries.
std::uint64_t run_summaries(const std::string& path, ferolin::ScoringMethod method) {
  const auto needs = ferolin::scoring::needs_of(method);
  const auto table = ferolin::pipeline::summarize_rows(open_checked(path, method), needs,
                                                       ferolin::scoring::TopIds::Drop);
  if (!table) die(table.error().message());
  return table->summaries.size();
}

// Returns the number of curve rows.
std::uint64_t run_curve(const std::string& path, ferolin::ScoringMethod method) {
  const auto curve = ferolin::pipeline::curve_from_table(path, method);
  if (!curve) die(curve.error().message());
  return curve->size();
}

// Returns the number of queries.
std::uint64_t run_pass(const std::string& path, ferolin::ScoringMethod method) {
  ferolin::pipeline::PassRequest request;
  request.methods = {method};
  const auto table = ferolin::pipeline::run_query_pass(path, request);
  if (!table) die(table.error().message());
  return table->size();
}

std::uint64_t run_mode(const std::string& mode, const std::string& path,
                       ferolin::ScoringMethod method) {
  if (mode == "floor") return bench::run_floor(path, kReadChunkSize);
  if (mode == "tokenize") return bench::run_tokenize(path, kReadChunkSize);
  if (mode == "tokenizer") return run_tokenizer(path);
  if (mode == "count") return bench::run_count(path, kReadChunkSize);
  if (mode == "checked") return run_checked(path, method);
  if (mode == "summaries") return run_summaries(path, method);
  if (mode == "curve") return run_curve(path, method);
  if (mode == "pass") return run_pass(path, method);
  die("unknown mode " + mode);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) die("usage: bench_curve MODE PATH [METHOD]");
  const std::string mode = argv[1];
  const ferolin::ScoringMethod method = method_named(argc > 3 ? argv[3] : "margin");
  const auto start = bench::Clock::now();
  const std::uint64_t count = run_mode(mode, argv[2], method);
  const double seconds = bench::seconds_since(start);
  std::printf("{\"mode\": \"%s\", \"count\": %llu, \"seconds\": %.6f, \"peak_kib\": %ld}\n",
              mode.c_str(), static_cast<unsigned long long>(count), seconds, bench::peak_rss_kib());
  return 0;
}
