// Benchmark of the candidates-table reader. Each run measures one mode over
// one file and prints one JSON line; benchmarks/bench_reader.py runs it
// several times per mode and reports medians.
//
// Modes:
//   floor     read the file in chunks and do nothing else
//   tokenize  libcsv alone: csv_parse over the same chunks, no callbacks
//   count     CandidateRowSource with a consumer that only counts rows
//   read      read_candidates
//   group     read_candidates, then group_by_query (phases timed apart)
//
// Usage: bench_reader MODE PATH [--chunk BYTES] [--no-details]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "bench_util.h"
#include "core/os/file_reader.h"
#include "reference/group_by_query.h"
#include "reference/read_candidates.h"

namespace {

using bench::Clock;
using bench::die;
using bench::peak_rss_kib;
using bench::seconds_since;

struct Options {
  std::string mode;
  std::string path;
  std::size_t chunk = ferolin::os::kReadChunkSize;
  bool keep_details = true;
};

std::vector<ferolin::reference::Candidate> read_all(const Options& options) {
  auto list =
      ferolin::reference::read_candidates(options.path, {.keep_details = options.keep_details});
  if (!list) die(list.error().message());
  return std::move(*list);
}

void run_group(const Options& options) {
  const auto start = Clock::now();
  auto list = read_all(options);
  const double read_seconds = seconds_since(start);
  const long read_peak = peak_rss_kib();
  const std::size_t rows = list.size();
  const auto group_start = Clock::now();
  const auto rankings = ferolin::reference::group_by_query(std::move(list));
  const double group_seconds = seconds_since(group_start);
  std::printf(
      "{\"mode\": \"group\", \"rows\": %zu, \"queries\": %zu, \"read_seconds\": %.6f, "
      "\"group_seconds\": %.6f, \"read_peak_kib\": %ld, \"peak_kib\": %ld}\n",
      rows, rankings.size(), read_seconds, group_seconds, read_peak, peak_rss_kib());
}

Options parse_options(int argc, char** argv) {
  if (argc < 3) die("usage: bench_reader MODE PATH [--chunk BYTES] [--no-details]");
  Options options{argv[1], argv[2]};
  for (int i = 3; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--no-details") {
      options.keep_details = false;
    } else if (arg == "--chunk" && i + 1 < argc) {
      options.chunk = std::stoul(argv[++i]);
    } else {
      die("unknown option " + std::string(arg));
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  if (options.mode == "group") {
    run_group(options);
    return 0;
  }
  const auto start = Clock::now();
  std::uint64_t rows = 0;
  if (options.mode == "floor") {
    rows = bench::run_floor(options.path, options.chunk);
  } else if (options.mode == "tokenize") {
    rows = bench::run_tokenize(options.path, options.chunk);
  } else if (options.mode == "count") {
    rows = bench::run_count(options.path, options.chunk);
  } else if (options.mode == "read") {
    const auto list = read_all(options);
    const double seconds = seconds_since(start);
    std::printf("{\"mode\": \"read\", \"rows\": %zu, \"seconds\": %.6f, \"peak_kib\": %ld}\n",
                list.size(), seconds, peak_rss_kib());
    return 0;
  } else {
    die("unknown mode " + options.mode);
  }
  const double seconds = seconds_since(start);
  std::printf("{\"mode\": \"%s\", \"rows\": %llu, \"seconds\": %.6f, \"peak_kib\": %ld}\n",
              options.mode.c_str(), static_cast<unsigned long long>(rows), seconds, peak_rss_kib());
  return 0;
}
