// Stages of compute_curve over a candidates table, each run alone, so that
// the differences between them show where the time goes. Each run measures
// one mode and prints one JSON line; benchmarks/bench_curve_profile.py runs
// the modes (with bench_reader's floor, tokenize and count) and reports
// medians.
//
// Modes:
//   tokenizer  CsvTokenizer over the file: libcsv plus our field callback,
//              record positions and checks; no cell is converted
//   summaries  CandidateRowSource into QuerySummaries as the curve of METHOD
//              builds them: conversion, the lookup of each row's query and
//              the per-query summary
//   curve      curve_from_table, what compute_curve runs: all of the above,
//              then scoring and the curve
//
// Usage: bench_curve MODE PATH [METHOD]   (METHOD as in policies: margin, max_prob, ...)
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "bench_util.h"
#include "core/io/candidate_row_source.h"
#include "core/io/csv_tokenizer.h"
#include "core/io/file_reader.h"
#include "core/pipeline/table_functions.h"
#include "core/scoring/compute_confidence.h"
#include "core/scoring/query_summaries.h"

namespace {

using bench::Clock;

[[noreturn]] void die(const std::string& message) { bench::die("bench_curve", message); }

// Returns the number of records, the header included.
std::uint64_t run_tokenizer(const std::string& path) {
  auto file = ferolin::io::FileReader::open(path);
  if (!file) die(file.error().message());
  ferolin::io::CsvTokenizer tokenizer;
  std::uint64_t records = 0;
  while (true) {
    const auto step = tokenizer.next();
    if (!step) die(step.error().message());
    if (*step == ferolin::io::CsvTokenizer::Step::End) return records;
    if (*step == ferolin::io::CsvTokenizer::Step::Record) {
      ++records;
      continue;
    }
    const auto chunk = file->read();
    if (!chunk) die(chunk.error().message());
    if (chunk->empty()) {
      tokenizer.finish();
    } else {
      tokenizer.supply(*chunk);
    }
  }
}

ferolin::ScoringMethod method_named(std::string_view name) {
  const auto method = ferolin::scoring_method_from_policy_name(name);
  if (!method) die("unknown method " + std::string(name));
  return *method;
}

// Returns the number of queries.
std::uint64_t run_summaries(const std::string& path, ferolin::ScoringMethod method) {
  auto source = ferolin::io::CandidateRowSource::open(path);
  if (!source) die(source.error().message());
  ferolin::scoring::QuerySummaries summaries(ferolin::scoring::TopIds::Drop,
                                             ferolin::scoring::entropy_sum_for(method));
  while (true) {
    const auto row = source->next();
    if (!row) die(row.error().message());
    if (*row == nullptr) return summaries.size();
    summaries.add(**row);
  }
}

// Returns the number of curve rows.
std::uint64_t run_curve(const std::string& path, ferolin::ScoringMethod method) {
  const auto curve = ferolin::pipeline::curve_from_table(path, method);
  if (!curve) die(curve.error().message());
  return curve->size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) die("usage: bench_curve MODE PATH [METHOD]");
  const std::string mode = argv[1];
  const std::string path = argv[2];
  const ferolin::ScoringMethod method = method_named(argc > 3 ? argv[3] : "margin");
  const auto start = Clock::now();
  std::uint64_t count = 0;
  if (mode == "tokenizer") {
    count = run_tokenizer(path);
  } else if (mode == "summaries") {
    count = run_summaries(path, method);
  } else if (mode == "curve") {
    count = run_curve(path, method);
  } else {
    die("unknown mode " + mode);
  }
  const double seconds = bench::seconds_since(start);
  std::printf("{\"mode\": \"%s\", \"count\": %llu, \"seconds\": %.6f, \"peak_kib\": %ld}\n",
              mode.c_str(), static_cast<unsigned long long>(count), seconds, bench::peak_rss_kib());
  return 0;
}
