// Times the percentile bootstrap of the core on synthetic per-query data, in
// one of two modes, and prints one JSON line:
//   walk      bootstrap_intervals: the queries sorted into cells once, then
//             per replicate n bounded draws and one weighted walk
//   explicit  replicates the long way: the resample written out, then
//             compute_curve and the metrics on it (what the walk must equal)
//   dump      no timing: writes the data to PATH (n doubles, then n bytes
//             0/1 for the labels) and prints the estimates, so that another
//             implementation can be checked against them on the same data
// The data: N labelled queries, confidence uniform in [0, 1), top candidate
// correct with probability = confidence. TIES says how confidences repeat:
// "none" (all distinct), "4" (rounded to 4 decimals, as probabilities
// written with 4 digits: about 10,000 distinct values), "mixed" (every other
// query rounded to 2 decimals: rows of one query and rows of thousands
// interleave). Generating the data is not timed. Times are wall-clock and
// the process's CPU time (the machine may be shared).
//
// Usage: bench_bootstrap walk|explicit N REPLICATES [TIES]
//        bench_bootstrap dump N TIES PATH
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_util.h"
#include "core/metrics/aurc.h"
#include "core/metrics/risk_coverage.h"
#include "core/stats/bootstrap.h"
#include "core/stats/random.h"
#include "core/stats/resample.h"

namespace {

using bench::die;
using ferolin::stats::SplitMix64;
using ferolin::stats::Xoshiro256StarStar;

struct PerQuery {
  std::vector<std::optional<double>> confidences;
  std::vector<std::optional<bool>> labels;
};

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

PerQuery make_data(std::uint64_t n, std::string_view ties) {
  Xoshiro256StarStar generator = Xoshiro256StarStar::seeded_by(SplitMix64{20240601});
  const auto unit = [&generator] {
    return static_cast<double>(generator.next() >> 11) * 0x1.0p-53;
  };
  PerQuery data;
  data.confidences.reserve(n);
  data.labels.reserve(n);
  for (std::uint64_t i = 0; i < n; ++i) {
    double confidence = unit();
    if (ties == "4") confidence = std::round(confidence * 1e4) / 1e4;
    if (ties == "mixed" && i % 2 == 0) confidence = std::round(confidence * 1e2) / 1e2;
    data.confidences.push_back(confidence);
    data.labels.push_back(unit() < confidence);
  }
  return data;
}

// Returns a checksum of the replicates' AURCs, so that nothing is optimised away.
double run_explicit(const PerQuery& data, std::uint64_t replicates) {
  double sum = 0.0;
  const std::uint64_t n = data.labels.size();
  PerQuery resample;
  for (std::uint64_t r = 0; r < replicates; ++r) {
    resample.confidences.clear();
    resample.labels.clear();
    for (std::uint64_t position : ferolin::stats::resample_positions(n, 1, r)) {
      resample.confidences.push_back(data.confidences[position]);
      resample.labels.push_back(data.labels[position]);
    }
    const auto curve = ferolin::metrics::compute_curve(resample.confidences, resample.labels);
    sum += ferolin::metrics::compute_aurc(curve) + ferolin::metrics::compute_augrc(curve) +
           ferolin::metrics::compute_eaurc(curve);
  }
  return sum;
}

ferolin::stats::BootstrapIntervals run_walk(const PerQuery& data, std::uint64_t replicates) {
  const ferolin::stats::BootstrapRequest request{
      .threshold = 0.5, .replicates = replicates, .seed = 1, .level = 0.95, .check = nullptr};
  const auto result = ferolin::stats::bootstrap_intervals(data.confidences, data.labels, request);
  if (!result) die(result.error().message());
  return *result;
}

void dump(const PerQuery& data, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) die("cannot write " + path);
  for (const auto& confidence : data.confidences) {
    const double value = *confidence;
    std::fwrite(&value, sizeof value, 1, file);
  }
  for (const auto& label : data.labels) std::fputc(*label ? 1 : 0, file);
  if (std::fclose(file) != 0) die("cannot write " + path);
  const auto estimates = run_walk(data, 100);  // only the estimates are wanted
  std::printf(
      "{\"aurc\": %.17g, \"eaurc\": %.17g, \"augrc\": %.17g, \"coverage\": %.17g, "
      "\"risk\": %.17g}\n",
      estimates.aurc.estimate, estimates.eaurc.estimate, estimates.augrc.estimate,
      estimates.coverage.estimate, estimates.risk.estimate);
}

void check_ties(std::string_view ties) {
  if (ties != "none" && ties != "4" && ties != "mixed") die("unknown TIES " + std::string(ties));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) die("usage: bench_bootstrap walk|explicit N REPLICATES [TIES] | dump N TIES PATH");
  const std::string_view mode = argv[1];
  const std::uint64_t n = std::stoull(argv[2]);
  if (mode == "dump") {
    if (argc < 5) die("usage: bench_bootstrap dump N TIES PATH");
    check_ties(argv[3]);
    dump(make_data(n, argv[3]), argv[4]);
    return 0;
  }
  const std::uint64_t replicates = std::stoull(argv[3]);
  const std::string_view ties = argc > 4 ? argv[4] : "none";
  check_ties(ties);
  const PerQuery data = make_data(n, ties);

  const auto start = bench::Clock::now();
  const double cpu_start = cpu_seconds();
  double checksum = 0.0;
  if (mode == "walk") {
    const auto result = run_walk(data, replicates);
    checksum = result.aurc.interval.low + result.aurc.interval.high;
  } else if (mode == "explicit") {
    checksum = run_explicit(data, replicates);
  } else {
    die("unknown mode " + std::string(mode));
  }
  const double seconds = bench::seconds_since(start);
  const double cpu = cpu_seconds() - cpu_start;
  std::printf(
      "{\"mode\": \"%s\", \"queries\": %llu, \"replicates\": %llu, \"ties\": \"%s\", "
      "\"seconds\": %.6f, \"cpu_seconds\": %.6f, \"cpu_ms_per_replicate\": %.6f, "
      "\"peak_rss_kib\": %ld, \"checksum\": %.17g}\n",
      std::string(mode).c_str(), static_cast<unsigned long long>(n),
      static_cast<unsigned long long>(replicates), std::string(ties).c_str(), seconds, cpu,
      1000.0 * cpu / static_cast<double>(replicates), bench::peak_rss_kib(), checksum);
  return 0;
}
