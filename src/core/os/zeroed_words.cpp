#include "core/os/zeroed_words.h"

#include <sys/mman.h>

#include <new>

namespace ferolin::os {
namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t bytes_of(std::size_t count) { return count * sizeof(std::uint64_t); }

std::uintptr_t round_up(std::uintptr_t value, std::size_t to) { return (value + to - 1) / to * to; }

void* map(std::size_t bytes) {
  void* const mapped =
      ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  return mapped;
}

}  // namespace

ZeroedWords::ZeroedWords(std::size_t count) : count_(count) {
  if (count == 0) return;
  const std::size_t bytes = round_up(bytes_of(count), kPage);
  if (bytes < kHugePage) {
    words_ = static_cast<std::uint64_t*>(map(bytes));
    return;
  }
  // A huge page needs an aligned start: map a huge page more than needed
  // and give back what lies before and after the aligned range.
  auto* const mapped = static_cast<char*>(map(bytes + kHugePage));
  const auto address = reinterpret_cast<std::uintptr_t>(mapped);
  const auto before = static_cast<std::size_t>(round_up(address, kHugePage) - address);
  char* const start = mapped + before;
  if (before != 0) ::munmap(mapped, before);
  if (before != kHugePage) ::munmap(start + bytes, kHugePage - before);
  // Only advice: where the kernel has no huge pages the array works the
  // same, a little slower.
  ::madvise(start, bytes, MADV_HUGEPAGE);
  words_ = reinterpret_cast<std::uint64_t*>(start);
}

ZeroedWords::~ZeroedWords() {
  if (words_ != nullptr) ::munmap(words_, bytes_of(count_));
}

}  // namespace ferolin::os
