// Benchmark of the CSV tokenizer alone: the records of a file split into
// fields (counted, their bytes summed, positions tracked, UTF-8 checked) by
// ferolin's CsvTokenizer with one scan variant, or by the libcsv reference.
// Each run measures one mode over one file and prints one JSON line;
// benchmarks/bench_tokenizer.py runs the modes in turn and reports medians.
//
// Modes:
//   floor                 read the file in chunks and do nothing else
//   scalar | sse2 | avx2  CsvTokenizer with that scan variant
//   libcsv                the libcsv reference tokenizer (tests/reference)
//   variants              print the variants this processor runs (PATH unused)
//
// Usage: bench_tokenizer MODE PATH [--chunk BYTES] [--separator C] [--passes N]
// (--passes reads the file N times in the one process: small files give
// timings above the clock's grain)
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "bench_util.h"
#include "core/os/file_reader.h"
#include "core/table/csv_tokenizer.h"
#include "reference/libcsv_tokenizer.h"

namespace {

struct Options {
  std::string mode;
  std::string path;
  std::size_t chunk = ferolin::os::kReadChunkSize;
  char separator = ',';
  int passes = 1;
};

struct Counts {
  std::uint64_t records = 0;
  std::uint64_t fields = 0;
  std::uint64_t field_bytes = 0;
  std::uint64_t last_line = 0;
};

template <typename Tokenizer>
Counts run_tokenizer(Tokenizer& tokenizer, const Options& options) {
  ferolin::os::FileReader file = bench::open_file(options.path, options.chunk);
  Counts counts;
  while (true) {
    const auto step = tokenizer.next();
    if (!step) bench::die(step.error().message());
    if (*step == Tokenizer::Step::End) return counts;
    if (*step == Tokenizer::Step::Record) {
      ++counts.records;
      counts.fields += tokenizer.field_count();
      for (std::size_t i = 0; i < tokenizer.field_count(); ++i) {
        counts.field_bytes += tokenizer.field(i).size();
      }
      counts.last_line = tokenizer.position().line;
      continue;
    }
    const auto chunk = file.read();
    if (!chunk) bench::die(chunk.error().message());
    if (chunk->empty()) {
      tokenizer.finish();
    } else {
      tokenizer.supply(*chunk);
    }
  }
}

Counts run_mode(const Options& options) {
  if (options.mode == "floor") {
    bench::run_floor(options.path, options.chunk);
    return {};
  }
  if (options.mode == "libcsv") {
    ferolin::reference::LibcsvTokenizer tokenizer(options.separator);
    return run_tokenizer(tokenizer, options);
  }
  for (const ferolin::table::ScanVariant variant : ferolin::table::supported_scan_variants()) {
    if (ferolin::table::scan_variant_name(variant) == options.mode) {
      ferolin::table::CsvTokenizer tokenizer(options.separator, variant);
      return run_tokenizer(tokenizer, options);
    }
  }
  bench::die("unknown mode, or a variant this processor does not run: " + options.mode);
}

Options parse_options(int argc, char** argv) {
  if (argc < 3) {
    bench::die("usage: bench_tokenizer MODE PATH [--chunk BYTES] [--separator C] [--passes N]");
  }
  Options options{argv[1], argv[2]};
  for (int i = 3; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--chunk" && i + 1 < argc) {
      options.chunk = std::stoul(argv[++i]);
    } else if (arg == "--passes" && i + 1 < argc) {
      options.passes = std::stoi(argv[++i]);
    } else if (arg == "--separator" && i + 1 < argc && std::string_view(argv[i + 1]).size() == 1) {
      options.separator = argv[++i][0];
    } else {
      bench::die("unknown option " + std::string(arg));
    }
  }
  return options;
}

void print_variants() {
  std::string names;
  for (const ferolin::table::ScanVariant variant : ferolin::table::supported_scan_variants()) {
    names += (names.empty() ? "\"" : ", \"") + std::string(scan_variant_name(variant)) + "\"";
  }
  std::printf("[%s]\n", names.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  if (options.mode == "variants") {
    print_variants();
    return 0;
  }
  const auto start = bench::Clock::now();
  Counts counts;
  for (int pass = 0; pass < options.passes; ++pass) counts = run_mode(options);
  const double seconds = bench::seconds_since(start);
  std::printf(
      "{\"mode\": \"%s\", \"records\": %llu, \"fields\": %llu, \"field_bytes\": %llu, "
      "\"last_line\": %llu, \"passes\": %d, \"seconds\": %.6f, \"cpu_seconds\": %.6f, "
      "\"peak_kib\": %ld}\n",
      options.mode.c_str(), static_cast<unsigned long long>(counts.records),
      static_cast<unsigned long long>(counts.fields),
      static_cast<unsigned long long>(counts.field_bytes),
      static_cast<unsigned long long>(counts.last_line), options.passes, seconds,
      bench::cpu_seconds(), bench::peak_rss_kib());
  return 0;
}
