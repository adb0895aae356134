// Helpers shared by the C++ benchmark programs: failing loudly, timing, the
// process's own peak memory, and the reading stages that both programs time.
#pragma once

#include <csv.h>
#include <errno.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "core/os/file_reader.h"
#include "reference/candidate_row_source.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// Prints `message` after the program's name and ends the process.
[[noreturn]] inline void die(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
  std::exit(1);
}

// Returns the seconds since `start`.
[[nodiscard]] inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Returns the processor time this process has used so far, user and
// system, in seconds: on a machine shared with other jobs it moves less
// than the wall time.
[[nodiscard]] inline double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Returns the high-water mark of this process image's resident memory in
// KiB. Unlike getrusage's ru_maxrss it starts afresh at exec, so it does not
// count the pages of the (Python) process that forked this one.
[[nodiscard]] inline long peak_rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

// Returns a reader over `path` in chunks of `chunk` bytes.
[[nodiscard]] inline ferolin::os::FileReader open_file(const std::string& path, std::size_t chunk) {
  auto file = ferolin::os::FileReader::open(path, {}, chunk);
  if (!file) die(file.error().message());
  return std::move(*file);
}

// Reads the file in chunks and does nothing else; returns 0.
inline std::uint64_t run_floor(const std::string& path, std::size_t chunk) {
  ferolin::os::FileReader file = open_file(path, chunk);
  while (true) {
    const auto bytes = file.read();
    if (!bytes) die(bytes.error().message());
    if (bytes->empty()) return 0;
  }
}

// libcsv alone: csv_parse over the same chunks with no callbacks; returns 0.
inline std::uint64_t run_tokenize(const std::string& path, std::size_t chunk) {
  ferolin::os::FileReader file = open_file(path, chunk);
  csv_parser parser{};
  csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI);
  while (true) {
    const auto bytes = file.read();
    if (!bytes) die(bytes.error().message());
    if (bytes->empty()) break;
    if (csv_parse(&parser, bytes->data(), bytes->size(), nullptr, nullptr, nullptr) !=
        bytes->size()) {
      die(csv_strerror(csv_error(&parser)));
    }
  }
  csv_fini(&parser, nullptr, nullptr, nullptr);
  csv_free(&parser);
  return 0;
}

// CandidateRowSource with a consumer that only counts; returns the rows.
inline std::uint64_t run_count(const std::string& path, std::size_t chunk) {
  auto source = ferolin::reference::CandidateRowSource::from_chunks(
      [file = open_file(path, chunk)]() mutable { return file.read(); });
  if (!source) die(source.error().message());
  std::uint64_t rows = 0;
  while (true) {
    const auto row = source->next();
    if (!row) die(row.error().message());
    if (*row == nullptr) return rows;
    ++rows;
  }
}

}  // namespace bench
