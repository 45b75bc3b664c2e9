#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orvel::typing::text {

// Occurrence counts keyed by token bytes, built for corpora with millions of distinct short
// tokens: keys live back to back in one byte arena (length-prefixed), entries are 16 bytes,
// and the open-addressing index keeps a 32-bit hash tag beside each entry number so that most
// probes never touch the arena. Roughly 40-50 bytes per distinct token in all, against about
// 100 for a node-based std::unordered_map<std::string, int64_t>.
class TokenCountTable {
 public:
  TokenCountTable() = default;

  // The count stored under `key`, or nullptr when the key is absent.
  const int64_t* find(std::string_view key) const;

  // The count stored under `key`, inserting the key with count 0 when it is absent.
  int64_t& find_or_insert(std::string_view key);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // Visits every (key, count) pair in insertion order.
  template <typename Visitor>
  void for_each(Visitor&& visit) const {
    for (const Entry& entry : entries_) visit(key_at(entry.key_offset), entry.count);
  }

 private:
  struct Entry {
    uint64_t key_offset;  // position of the key's length prefix in keys_
    int64_t count;
  };

  std::string_view key_at(uint64_t offset) const;
  static uint64_t hash(std::string_view key);
  // Slot index of `key` if present, else of the empty slot where it would go.
  std::size_t probe(std::string_view key, uint64_t hash) const;
  void grow();

  std::vector<char> keys_;
  std::vector<Entry> entries_;
  // Each slot is 0 (empty) or (hash tag << 32) | (entry number + 1); the tag (the hash's upper
  // half) also gives the home position, which caps the table at 2^32 slots.
  std::vector<uint64_t> slots_;
};

}  // namespace orvel::typing::text
