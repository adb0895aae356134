// QueryIndex: numbers the distinct query ids of a table 0, 1, 2, ... in the
// order they are first seen, and keeps each id once. Rows of one query
// usually stand together, so a row's id is compared with the previous row's
// before it is looked up; and tables usually list their queries sorted by
// id, so while every new id sorts after the last, no lookup table is built
// at all (an id above every earlier one is new). Otherwise a lookup costs
// one cache miss in a table of millions of slots: the reader hides it by
// calling prefetch() with an id a few rows ahead, and the table lies on huge
// pages so that the miss is not also a miss of the TLB. Each index has its
// own key and state: one per thread reading, merged by their ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/chunked_vector.h"
#include "core/keyed_hash.h"
#include "core/os/zeroed_words.h"
#include "core/text_arena.h"

namespace ferolin::table {

class QueryIndex {
 public:
  // Lookups hash with a key drawn at random for this index, so that no
  // table can be written whose ids all collide.
  QueryIndex() : QueryIndex(draw_sip_key()) {}
  explicit QueryIndex(const SipKey& key) : key_(key) {}

  // Marks a lookup whose hash is not known yet (hash bits end in 32 zeros).
  static constexpr std::uint64_t kUnhashed = 1;

  // Returns the number of the query `id`, numbering it when it is new.
  // `id_hash`: what prefetch_hashed(id) returned, so that the id is not
  // hashed again, or kUnhashed.
  [[nodiscard]] std::size_t number_of(std::string_view id, std::uint64_t id_hash = kUnhashed) {
    if (last_ != kNone && same_bytes(id, last_id_)) {
      changed_ = false;
      return last_;
    }
    return look_up(id, id_hash);
  }

  // Returns whether lookups go through the table and the last id differed
  // from the one before it: rows of few candidates each in no order, whose
  // lookups prefetch() can speed up.
  [[nodiscard]] bool prefetch_pays() const { return changed_; }

  // Starts fetching the memory that a lookup of `id` reads first, so that
  // the lookup finds it cached when it comes a few rows later. Changes
  // nothing; does nothing while ids ascend (no lookup table).
  void prefetch(std::string_view id) const {
    if (id.empty() || slots_.empty()) return;
    __builtin_prefetch(&slots_[home_of(hash_bits(id), slot_bits_)]);
  }

  // The same for a lookup of `id` that is certain to come: returns the hash
  // for number_of(), or kUnhashed while lookups need none.
  [[nodiscard]] std::uint64_t prefetch_hashed(std::string_view id) const {
    if (slots_.empty()) return kUnhashed;
    const std::uint64_t id_hash = hash_bits(id);
    __builtin_prefetch(&slots_[home_of(id_hash, slot_bits_)]);
    return id_hash;
  }

  // Makes room in the lookup table, now or once there is one, for `count`
  // ids in all at once rather than by doubling step after step (each step
  // places every id again). An estimate: ids beyond it are taken as ever.
  void reserve(std::size_t count);

  // Returns the number of distinct ids.
  [[nodiscard]] std::size_t size() const { return refs_.size(); }

  // Returns the id numbered `number`; valid as long as the index.
  [[nodiscard]] std::string_view id(std::size_t number) const { return ids_[refs_[number]]; }

  // Returns the numbers in ascending order of the bytes of their ids (a
  // proper prefix first).
  [[nodiscard]] std::vector<std::size_t> numbers_by_id() const;

  // Returns whether the ids came in ascending order of their bytes, so far.
  [[nodiscard]] bool ascending() const { return ascending_; }

  // Returns the bytes that the index holds.
  [[nodiscard]] std::size_t allocated_bytes() const;

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Compares as ==, but ids of 8 to 16 bytes (most) as two words each
  // rather than through a call of memcmp.
  static bool same_bytes(std::string_view a, std::string_view b) {
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    if (n < 8 || n > 16) return a == b;
    const auto word = [](const char* at) {
      std::uint64_t value;
      std::memcpy(&value, at, sizeof value);
      return value;
    };
    return ((word(a.data()) ^ word(b.data())) |
            (word(a.data() + n - 8) ^ word(b.data() + n - 8))) == 0;
  }

  // Returns the slot where an entry whose hash bits are `bits` is first
  // looked for: the top bits of the hash.
  static std::size_t home_of(std::uint64_t bits, int slot_bits) {
    return static_cast<std::size_t>((bits >> 32) >> (32 - slot_bits));
  }

  // The high 32 bits of the id's hash, in place, as a slot holds them.
  [[nodiscard]] std::uint64_t hash_bits(std::string_view id) const;
  // Puts `slot` into the first empty slot from its home on, in a table of
  // 2^slot_bits slots that has one.
  static void place(os::ZeroedWords& slots, int slot_bits, std::uint64_t slot);
  std::size_t look_up(std::string_view id, std::uint64_t id_hash);
  std::size_t add(std::string_view id, std::uint64_t id_hash);
  void hash_every_id();
  void grow();
  void resize(int slot_bits);

  SipKey key_;
  TextArena ids_;
  ChunkedVector<TextArena::Ref> refs_;  // refs_[number]: where its id is stored
  // Open addressing with linear probing. A slot holds the high 32 bits of
  // the id's hash above its number + 1, or 0 when empty; a slot's home is
  // given by the top bits of the hash, so growing needs no hashing.
  os::ZeroedWords slots_;
  int slot_bits_ = 0;  // slots_.size() == 2^slot_bits_ once allocated
  std::size_t reserved_ = 0;  // see reserve()
  // Every id so far sorted after the one before; `slots_` is then empty.
  bool ascending_ = true;
  std::string_view last_id_;
  std::size_t last_ = kNone;
  bool changed_ = false;  // see prefetch_pays()
};

}  // namespace ferolin::table
