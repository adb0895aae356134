// Replays fuzz inputs without libFuzzer: a plain main that feeds every file of
// the directories (or the files) named on its command line, in name order, to
// the fuzz target's LLVMFuzzerTestOneInput. Linked with each target and run
// by ctest on its committed corpus, so that every build of the tests, with
// any compiler, checks the committed inputs. A broken property aborts, as
// under libFuzzer; the last input named on standard output is the culprit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// Returns the files of `path` in name order: its regular files when it is a
// directory, otherwise `path` itself.
std::vector<fs::path> inputs_of(const fs::path& path) {
  if (!fs::is_directory(path)) return {path};
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<std::string> read_bytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) return std::nullopt;
  return bytes;
}

// Feeds `bytes` in a block of exactly their size, as libFuzzer does, so that
// AddressSanitizer catches a read past the end.
void run_one(const std::string& bytes) {
  const auto block = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), block.get());
  LLVMFuzzerTestOneInput(block.get(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIRECTORY_OR_FILE...\n", argv[0]);
    return 2;
  }
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& input : inputs_of(argv[i])) {
      const std::optional<std::string> bytes = read_bytes(input);
      if (!bytes) {
        std::fprintf(stderr, "cannot read %s\n", input.c_str());
        return 1;
      }
      std::printf("%s\n", input.c_str());
      std::fflush(stdout);
      run_one(*bytes);
      ++replayed;
    }
  }
  // An empty corpus is a mistake (a missing directory is caught above).
  if (replayed == 0) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  std::printf("replayed %zu inputs\n", replayed);
  return 0;
}
