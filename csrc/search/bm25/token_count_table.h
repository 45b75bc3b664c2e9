#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/prefetch.h"

namespace orvel::typing::text {

// Occurrence counts keyed by token bytes, built for corpora with millions of distinct short
// tokens. Each entry is one 8-byte-aligned record in a single arena: the count, then the key's
// length (a varint) and bytes, so a lookup touches the index slot and one record, usually one
// cache line. The open-addressing index keeps a 24-bit hash tag beside each record offset, so
// most probes never touch the arena. About 40-50 bytes per distinct short token in all, against
// about 100 for a node-based std::unordered_map<std::string, int64_t>.
class TokenCountTable {
 public:
  TokenCountTable() = default;

  // The count stored under `key`, or nullptr when the key is absent.
  const int64_t* find(std::string_view key) const;

  // The count stored under `key`, inserting the key with count 0 when it is absent. The
  // reference stays valid until the next insertion.
  int64_t& find_or_insert(std::string_view key) { return find_or_insert(key, hash(key)); }
  // The same with the key's hash already known (`hash(key)`).
  int64_t& find_or_insert(std::string_view key, uint64_t key_hash);

  // Makes room for `count` keys in all, so that inserting up to that many never grows the
  // index; `key_bytes`, the bytes of the keys to come, sizes the record arena.
  void reserve(std::size_t count, std::size_t key_bytes);

  // The hash the table files `key` under.
  static uint64_t hash(std::string_view key);

  // Prefetching for a run of lookups whose keys are hashed ahead: `prefetch_slot` starts
  // loading the index slot a lookup of `key_hash` reads first; once that is in cache,
  // `prefetch_record` starts loading the record it points to. A table of a corpus's tokens is
  // far larger than the core's cache, so asking a few keys ahead overlaps their misses.
  void prefetch_slot(uint64_t key_hash) const {
    if (!slots_.empty()) tokenizer::jieba::PrefetchLine(&slots_[key_hash & (slots_.size() - 1)]);
  }
  void prefetch_record(uint64_t key_hash) const;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Visits every (key, count) pair in insertion order.
  template <typename Visitor>
  void for_each(Visitor&& visit) const {
    for (std::size_t offset = 0; offset < records_.size(); offset = next_record(offset)) {
      visit(key_at(offset), *count_at(offset));
    }
  }

 private:
  // Records are made of 8-byte words so that every count is aligned.
  using Word = uint64_t;

  const int64_t* count_at(std::size_t offset) const {
    return reinterpret_cast<const int64_t*>(&records_[offset]);
  }
  int64_t* count_at(std::size_t offset) { return reinterpret_cast<int64_t*>(&records_[offset]); }
  std::string_view key_at(std::size_t offset) const;
  std::size_t next_record(std::size_t offset) const;
  // Slot index of `key` if present, else of the empty slot where it would go.
  std::size_t probe(std::string_view key, uint64_t hash) const;
  void grow();
  void rehash(std::size_t capacity);  // a power of two, at least twice size_

  std::size_t size_ = 0;
  std::vector<Word> records_;
  // Each slot is 0 (empty) or (hash tag << 40) | (record offset in words + 1).
  std::vector<uint64_t> slots_;
};

}  // namespace orvel::typing::text
