#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/prefetch.h"

namespace orvel::typing::text::pybind {

// The hash WordStrCache files a word under; computed off the lock, while cutting.
std::uint64_t WordHash(std::string_view bytes);

// The table both caches below keep their objects in: open addressing by a 64-bit hash, each
// entry a key of two 32-bit fields (their meaning the cache's) and a reference to its object.
// Bounded, so that a batch of distinct junk cannot grow it without end: once full, callers
// make objects of their own.
class SharedObjectTable {
 public:
  SharedObjectTable() = default;
  SharedObjectTable(const SharedObjectTable&) = delete;
  SharedObjectTable& operator=(const SharedObjectTable&) = delete;
  ~SharedObjectTable();

  // A new reference to the object filed under `hash` whose key `same(first, second)` accepts,
  // or null when there is none.
  template <typename Same>
  PyObject* Find(std::uint64_t hash, Same same) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask; slots_[i].object; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.hash == hash && same(slot.first, slot.second)) {
        Py_INCREF(slot.object);
        return slot.object;
      }
    }
    return nullptr;
  }

  // Starts loading the slot a lookup of `hash` reads first (stage 1), or, once that slot is
  // in cache, the object it holds and that object's key (stage 2, through `key`, which maps
  // the slot's two fields to the key's address). A batch knows its words' hashes ahead of
  // their lookups, and the table and its objects are far larger than the core's cache, so
  // asking early overlaps the misses of several lookups instead of waiting for each.
  void Prefetch(std::uint64_t hash) const {
    if (!slots_.empty()) tokenizer::jieba::PrefetchLine(&slots_[hash & (slots_.size() - 1)]);
  }
  template <typename Key>
  void PrefetchEntry(std::uint64_t hash, Key key) const {
    if (slots_.empty()) return;
    const Slot& slot = slots_[hash & (slots_.size() - 1)];
    if (!slot.object || slot.hash != hash) return;
    tokenizer::jieba::PrefetchLine(slot.object);
    if (const void* address = key(slot.first, slot.second)) tokenizer::jieba::PrefetchLine(address);
  }

  // Files `object` (not yet in the table) under `hash` and its key, with a reference of the
  // table's own; false, and nothing kept, when the table is full.
  bool Add(std::uint64_t hash, std::uint32_t first, std::uint32_t second, PyObject* object);

 private:
  struct Slot {
    std::uint64_t hash;
    std::uint32_t first;
    std::uint32_t second;
    PyObject* object;  // null: free
  };
  static constexpr std::size_t kMaxEntries = std::size_t{1} << 20;

  void Grow();

  std::vector<Slot> slots_;  // a power of two long, at most half full
  std::size_t entries_ = 0;
};

// One str per distinct word across a batch's lists. Building a str (decoding, allocation, and
// freeing it again with the results) is most of what a batch spends holding the interpreter
// lock; a corpus repeats a small vocabulary, so looking a word up by a hash computed off the
// lock is several times cheaper, and the results share their strs.
// Holds a reference to every str it hands out: create and destroy it with the lock held.
class WordStrCache {
 public:
  // A new reference to the str of the UTF-8 `bytes` (`hash` = WordHash(bytes)). A word not
  // cached is decoded as bytes.decode("utf-8") would (Utf8ToStr): null with its
  // UnicodeDecodeError set when it is not valid, so only valid words are ever cached.
  PyObject* Get(std::string_view bytes, std::uint64_t hash);

  // Prefetching for a word looked up soon: Prefetch about eight lookups ahead, then
  // PrefetchEntry about four ahead (see SharedObjectTable).
  void Prefetch(std::uint64_t hash) const { strs_.Prefetch(hash); }
  void PrefetchEntry(std::uint64_t hash) const {
    strs_.PrefetchEntry(
        hash, [this](std::uint32_t offset, std::uint32_t) { return keys_.data() + offset; });
  }

 private:
  // Long words rarely repeat: past this, words get strs of their own.
  static constexpr std::size_t kMaxWordBytes = 48;

  SharedObjectTable strs_;  // keyed by (offset, length) in keys_
  std::string keys_;        // every cached word's bytes, back to back
};

// One int for each of the token ids a batch's sparse vectors repeat most: ids are 32-bit
// hashes, beyond the small ints CPython shares, so each would otherwise be an allocation of its
// own. Direct-mapped: an id's slot is picked by its low bits (ids are MurmurHash3 values, evenly
// spread) and holds the last id looked up there. A corpus's common words, which make most of
// the entries, keep their slots; a rare id costs an int of its own, as an uncached id would.
// A table that stays this small stays in the core's cache, needs no probing and never grows:
// a growing table of every distinct id cost more in misses and rehashing than it saved in
// allocations. Holds a reference to each int it keeps: create and destroy it with the
// interpreter lock held.
class IdIntCache {
 public:
  IdIntCache() : slots_(kSlots, Slot{0, nullptr}) {}
  IdIntCache(const IdIntCache&) = delete;
  IdIntCache& operator=(const IdIntCache&) = delete;
  ~IdIntCache();

  // A new reference to int(id); null with a Python error set when allocation fails.
  PyObject* Get(std::uint32_t id);

  // Starts loading the slot of an id looked up soon.
  void Prefetch(std::uint32_t id) const {
    tokenizer::jieba::PrefetchLine(&slots_[id & (kSlots - 1)]);
  }

 private:
  static constexpr std::size_t kSlots = std::size_t{1} << 13;
  struct Slot {
    std::uint32_t id;
    PyObject* object;  // null: free
  };
  std::vector<Slot> slots_;
};

}  // namespace orvel::typing::text::pybind
