#include "core/table/query_index.h"

#include <algorithm>
#include <new>

#include "core/byte_sort.h"

namespace ferolin::table {
namespace {

constexpr int kFirstSlotBits = 10;
constexpr std::uint64_t kNumberMask = 0xffffffff;

// Returns the number of slot bits that keep `count` ids at most three
// quarters full.
int slot_bits_for(std::size_t count) {
  int bits = kFirstSlotBits;
  while (bits < 32 && 4 * count > 3 * (std::size_t{1} << bits)) ++bits;
  return bits;
}

}  // namespace

void QueryIndex::place(os::ZeroedWords& slots, int slot_bits, std::uint64_t slot) {
  const std::size_t mask = slots.size() - 1;
  std::size_t at = home_of(slot, slot_bits);
  while (slots[at] != 0) at = (at + 1) & mask;
  slots[at] = slot;
}

std::uint64_t QueryIndex::hash_bits(std::string_view id) const {
  return sip_hash_1_3(key_, id) >> 32 << 32;
}

std::size_t QueryIndex::look_up(std::string_view id, std::uint64_t id_hash) {
  if (ascending_) {
    // The previous id is the largest so far: one above it is new.
    if (last_ == kNone || id > last_id_) return add(id, 0);
    ascending_ = false;
    hash_every_id();
  }
  changed_ = true;
  if (id_hash == kUnhashed) id_hash = hash_bits(id);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = home_of(id_hash, slot_bits_);; at = (at + 1) & mask) {
    const std::uint64_t slot = slots_[at];
    if (slot == 0) break;
    if ((slot & ~kNumberMask) != id_hash) continue;
    const std::size_t number = (slot & kNumberMask) - 1;
    if (this->id(number) == id) {
      last_ = number;
      last_id_ = this->id(number);
      return number;
    }
  }
  return add(id, id_hash);
}

// Numbers a new id; once ids are hashed, enters it in the table under the
// high 32 bits of its hash.
std::size_t QueryIndex::add(std::string_view id, std::uint64_t id_hash) {
  const std::size_t number = size();
  // Numbers take 32 bits of a slot; so many queries would not fit in
  // memory anyway.
  if (number >= kNumberMask) throw std::bad_alloc();
  refs_.push_back(ids_.add(id));
  last_ = number;
  last_id_ = this->id(number);
  if (ascending_) return number;
  // At most three quarters full keeps probe sequences short.
  if (4 * (number + 1) > 3 * slots_.size()) grow();
  place(slots_, slot_bits_, id_hash | (number + 1));
  return number;
}

void QueryIndex::reserve(std::size_t count) {
  reserved_ = std::max(reserved_, count);
  if (!slots_.empty() && slot_bits_for(reserved_) > slot_bits_) resize(slot_bits_for(reserved_));
}

// Builds the table of the ids numbered so far, the first time an id does
// not sort after the previous one.
void QueryIndex::hash_every_id() {
  resize(slot_bits_for(std::max(size(), reserved_)));
  for (std::size_t number = 0; number < size(); ++number) {
    place(slots_, slot_bits_, hash_bits(id(number)) | (number + 1));
  }
}

// Doubles the table. A slot's home in the larger table takes one more bit
// of the hash, which the slot holds.
void QueryIndex::grow() { resize(slots_.empty() ? kFirstSlotBits : slot_bits_ + 1); }

// Moves the slots to a table of 2^slot_bits slots; a slot's home there
// takes that many bits of the hash, which the slot holds.
void QueryIndex::resize(int slot_bits) {
  // A home takes at most the 32 hash bits that a slot holds.
  if (slot_bits > 32) throw std::bad_alloc();
  slot_bits_ = slot_bits;
  os::ZeroedWords grown(std::size_t{1} << slot_bits_);
  for (const std::uint64_t slot : slots_) {
    if (slot != 0) place(grown, slot_bits_, slot);
  }
  slots_ = std::move(grown);
}

std::vector<std::size_t> QueryIndex::numbers_by_id() const {
  if (ascending_) {
    std::vector<std::size_t> numbers(size());
    for (std::size_t number = 0; number < numbers.size(); ++number) numbers[number] = number;
    return numbers;
  }
  std::vector<std::string_view> ids(size());
  for (std::size_t number = 0; number < ids.size(); ++number) ids[number] = id(number);
  return order_by_bytes(ids);
}

std::size_t QueryIndex::allocated_bytes() const {
  return ids_.allocated_bytes() + refs_.allocated_bytes() + slots_.size() * sizeof(std::uint64_t);
}

}  // namespace ferolin::table
