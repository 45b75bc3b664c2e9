#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "search/bm25/token_count_table.h"
#include "tokenizer/jieba/prefetch.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#endif

namespace orvel::typing::text {

// Occurrence counts of words keyed by a number that stands for one word (its node in a
// segmenter's trie, or a rune of a one-rune word), for one thread of a batch: a word is counted
// with an increment found from its key alone, where WordCounter hashes its bytes and compares
// them. The keys met are listed, each with the bytes of its first occurrence (viewed in place:
// the texts must outlive the counter) and their TokenCountTable hash, so that visiting them
// never scans the counts, and the model that takes the counts under its owner's lock finds
// every word's hash made on the counting threads. Counts stay below 2^32 - 1 per key, as
// WordCounter's. Key 0 (the trie's root, never a word) is never counted.
//
// The counts live in one of two stores, chosen by the batch's size:
// - Dense(): an array over every key, one indexed increment per word. It spans some 3.5 MB for
//   the standard dictionary, mapped fresh from the system (see ZeroedCounts), and even a small
//   batch's words touch most of its pages.
// - Hashed(): an open-addressing table of (key, count) sized for the batch's distinct words,
//   which stays in the core's cache for a small batch and costs nothing to set up.
class alignas(64) NodeCounter {
 public:
  using Node = std::uint32_t;

  // Room for the nodes [0, node_limit), in an array.
  static NodeCounter Dense(std::size_t node_limit) { return NodeCounter(node_limit, 0); }
  // Room for `expected_keys` distinct keys without growing, in a table (any key but 0).
  static NodeCounter Hashed(std::size_t expected_keys) { return NodeCounter(0, expected_keys); }

  // Whether the counts are an array over every key (Dense).
  bool dense() const { return counts_ != nullptr; }

  // Writes every page of a Dense array once, as counting into it needs first (see
  // ZeroedCounts); later calls do nothing, and so does a table. Called by the thread that counts
  // into it before each text, so that the threads take the page faults of their arrays side by
  // side.
  void Prefault() {
    if (counts_ == nullptr || prefaulted_) return;
    volatile std::uint32_t* counts = counts_;
    constexpr std::size_t kPageCounts = 4096 / sizeof(std::uint32_t);
    for (std::size_t i = 0; i < block_.get_deleter().count; i += kPageCounts) counts[i] = 0;
    prefaulted_ = true;
  }

  // Starts loading the count of `node`. The array is far larger than the core's caches and
  // keys come in no useful order, so callers request a text's keys before counting them.
  void Prefetch(Node node) const {
    if (counts_ != nullptr) {
      tokenizer::jieba::PrefetchLine(&counts_[node]);
    } else {
      tokenizer::jieba::PrefetchLine(&table_[Home(node)]);
    }
  }

  // Counts the word of key `node` in a text, whose bytes word() gives, unless drop(word())
  // holds; returns whether it was counted. Both are asked once per key, at its first
  // occurrence: every occurrence of a key has the same bytes (valid UTF-8 encodes a rune one
  // way only), so the answer holds, and later occurrences cost an increment only.
  template <typename Word, typename Drop>
  bool Add(Node node, Word&& word_of, Drop&& drop) {
    std::uint32_t& count = counts_ != nullptr ? counts_[node] : HashedCount(node);
    if (count == 0) {
      const std::string_view word = word_of();
      if (drop(word)) {
        count = kDropped;
        return false;
      }
      seen_.push_back({word, TokenCountTable::hash(word), node});
      count = 1;
      return true;
    }
    if (count == kDropped) return false;
    ++count;
    return true;
  }

  // Visits every counted (word, count) once, in order of first occurrence.
  template <typename Visitor>
  void ForEach(Visitor&& visit) const {
    for (const Seen& seen : seen_) visit(seen.word, Stored(seen.node));
  }
  // The same with each word's key and hash, visit(word, key, count, hash), for the words
  // first met in [begin, end) of that order (callers split the words between threads).
  template <typename Visitor>
  void ForEachKey(std::size_t begin, std::size_t end, Visitor&& visit) const {
    for (std::size_t i = begin; i < end && i < seen_.size(); ++i) {
      const Seen& seen = seen_[i];
      visit(seen.word, seen.node, Stored(seen.node), seen.hash);
    }
  }

  // The count of `node`: 0 when it was never counted (unseen, or its word dropped).
  std::uint32_t Count(Node node) const {
    const std::uint32_t count = Stored(node);
    return count == kDropped ? 0 : count;
  }

  // Number of distinct words counted.
  std::size_t size() const { return seen_.size(); }

 private:
  // The count of a node whose word is dropped, so that drop is not asked again.
  static constexpr std::uint32_t kDropped = 0xFFFFFFFFu;

  NodeCounter(std::size_t node_limit, std::size_t expected_keys)
      : block_(node_limit != 0 ? ZeroedCounts(node_limit) : nullptr, Free{node_limit}),
        counts_(block_.get()),
        table_(node_limit != 0 ? 0 : TableSlots(expected_keys)),
        mask_(table_.empty() ? 0 : table_.size() - 1) {}

  // A table at most half full for `keys` keys: probes stay short, and a small batch's table
  // (a few thousand keys) still fits the core's cache.
  static std::size_t TableSlots(std::size_t keys) {
    std::size_t slots = 1024;
    while (slots < keys * 2) slots *= 2;
    return slots;
  }

  // Fibonacci hashing: trie nodes of related words lie close together, and the multiply
  // spreads them over the table.
  std::size_t Home(Node node) const {
    return static_cast<std::size_t>((std::uint64_t{node} * 0x9E3779B97F4A7C15u) >> 32) & mask_;
  }

  // The count stored for `node` (0 when never counted), in either store.
  std::uint32_t Stored(Node node) const {
    if (counts_ != nullptr) return counts_[node];
    for (std::size_t i = Home(node);; i = (i + 1) & mask_) {
      if (table_[i].node == node) return table_[i].count;
      if (table_[i].node == 0) return 0;
    }
  }

  // The table's count of `node`, its slot claimed (with count 0) when new.
  std::uint32_t& HashedCount(Node node) {
    for (std::size_t i = Home(node);; i = (i + 1) & mask_) {
      Entry& entry = table_[i];
      if (entry.node == node) return entry.count;
      if (entry.node != 0) continue;
      if ((used_ + 1) * 2 > table_.size()) {
        Grow();
        return HashedCount(node);
      }
      ++used_;
      entry.node = node;
      return entry.count;
    }
  }

  // Doubles the table.
  void Grow() {
    std::vector<Entry> old(table_.size() * 2);
    old.swap(table_);
    mask_ = table_.size() - 1;
    for (const Entry& entry : old) {
      if (entry.node == 0) continue;
      std::size_t i = Home(entry.node);
      while (table_[i].node != 0) i = (i + 1) & mask_;
      table_[i] = entry;
    }
  }

#if defined(__unix__) || defined(__APPLE__)
  // Counts are read before they are written, and the first read of a fresh page maps the
  // shared zero page; the write after it replaces that mapping, which makes the kernel flush
  // the TLBs of the other cores running the process: an interrupt per 4 KiB page, which took
  // 8% of two threads' counting time (in a VM, where each interrupt traps). So every page is
  // written once up front (Prefault), and the array is aligned to 2 MiB and offered for transparent
  // huge pages, which makes those first writes two or three faults and spares the counting TLB
  // misses: two threads trained 15-20% faster. Fresh pages come cleared by the system, where
  // calloc would clear reused heap memory itself.
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  static std::size_t MappedBytes(std::size_t count) {
    return (count * sizeof(std::uint32_t) + kHugePage - 1) & ~(kHugePage - 1);
  }
  static std::uint32_t* ZeroedCounts(std::size_t count) {
    const std::size_t bytes = MappedBytes(count);
    void* block = mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    // Keep the 2 MiB-aligned `bytes` inside the block and give back the rest on either side.
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned != start) munmap(block, aligned - start);
    const std::size_t tail = kHugePage - (aligned - start);
    if (tail != 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);  // only advice
#endif
    return reinterpret_cast<std::uint32_t*>(aligned);
  }
  struct Free {
    std::size_t count;
    void operator()(std::uint32_t* counts) const { munmap(counts, MappedBytes(count)); }
  };
#else
  static std::uint32_t* ZeroedCounts(std::size_t count) {
    void* block = std::calloc(count, sizeof(std::uint32_t));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<std::uint32_t*>(block);
  }
  struct Free {
    std::size_t count;
    void operator()(std::uint32_t* counts) const { std::free(counts); }
  };
#endif
  struct Seen {
    std::string_view word;
    std::uint64_t hash;  // TokenCountTable::hash(word)
    Node node;
  };
  struct Entry {
    Node node = 0;  // 0: free
    std::uint32_t count = 0;
  };

  std::unique_ptr<std::uint32_t[], Free> block_;
  std::uint32_t* counts_;     // block_ (Dense), read on every word; null for a table
  bool prefaulted_ = false;   // Prefault has written block_
  std::vector<Entry> table_;  // Hashed: the counts
  std::size_t mask_;          // table_.size() - 1
  std::size_t used_ = 0;      // keys in table_
  std::vector<Seen> seen_;
};

}  // namespace orvel::typing::text
