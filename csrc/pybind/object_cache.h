#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::typing::text::pybind {

// The hash WordStrCache files a word under; computed off the lock, while cutting.
std::uint64_t WordHash(std::string_view bytes);

// One str per distinct word across a batch's lists. Building a str (decoding, allocation, and
// freeing it again with the results) is most of what a batch spends holding the interpreter
// lock; a corpus repeats a small vocabulary, so looking a word up by a hash computed off the
// lock is several times cheaper, and the results share their strs.
// Holds a reference to every str it hands out: create and destroy it with the lock held.
class WordStrCache {
 public:
  WordStrCache() = default;
  WordStrCache(const WordStrCache&) = delete;
  WordStrCache& operator=(const WordStrCache&) = delete;
  ~WordStrCache();

  // A new reference to the str of the UTF-8 `bytes` (`hash` = WordHash(bytes)). A word not
  // cached is decoded as bytes.decode("utf-8") would (Utf8ToStr): null with its
  // UnicodeDecodeError set when it is not valid, so only valid words are ever cached.
  PyObject* Get(std::string_view bytes, std::uint64_t hash);

 private:
  struct Slot {
    std::uint64_t hash;
    std::uint32_t key_offset;  // into keys_
    std::uint32_t key_length;
    PyObject* str;  // null: free
  };
  // Long words rarely repeat, and a bounded table keeps a batch of distinct junk from growing
  // it without end: past these, words get strs of their own.
  static constexpr std::size_t kMaxWordBytes = 48;
  static constexpr std::size_t kMaxEntries = std::size_t{1} << 20;

  void Grow();

  std::vector<Slot> slots_;  // open addressing, a power of two long, at most half full
  std::size_t entries_ = 0;
  std::string keys_;  // every cached word's bytes, back to back
};

// One int per distinct token id across a batch's sparse vectors: ids are 32-bit hashes, beyond
// the small ints CPython shares, so each would otherwise be an allocation of its own. Same
// rules as WordStrCache: holds a reference to each int, lives under the lock.
class IdIntCache {
 public:
  IdIntCache() = default;
  IdIntCache(const IdIntCache&) = delete;
  IdIntCache& operator=(const IdIntCache&) = delete;
  ~IdIntCache();

  // A new reference to int(id); null with a Python error set when allocation fails.
  PyObject* Get(std::uint32_t id);

 private:
  struct Slot {
    std::uint32_t id;
    PyObject* value;  // null: free
  };
  static constexpr std::size_t kMaxEntries = std::size_t{1} << 20;

  void Grow();

  std::vector<Slot> slots_;  // open addressing, a power of two long, at most half full
  std::size_t entries_ = 0;
};

}  // namespace orvel::typing::text::pybind
