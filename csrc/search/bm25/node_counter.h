#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#endif

namespace orvel::typing::text {

// Occurrence counts of words keyed by a number that stands for one word (its node in a
// segmenter's trie, or a rune of a one-rune word), for one thread of a batch: a word is counted
// with one indexed increment, where WordCounter hashes its bytes and compares them in a table
// several times larger. The array spans every key, but it is mapped fresh from the system, whose
// pages read as zero until written, so only the pages of keys that occur are ever touched
// (calloc would clear the whole array when it reuses freed heap memory, as after loading a
// Jieba, and every batch would pay for that). The keys met are listed, each with the bytes of
// its first occurrence (viewed in place: the texts must outlive the counter), so that visiting
// them never scans the array. Counts stay below 2^32 - 1 per key, as WordCounter's.
class NodeCounter {
 public:
  using Node = std::uint32_t;

  // Room for the nodes [0, node_limit).
  explicit NodeCounter(std::size_t node_limit)
      : block_(ZeroedCounts(node_limit), Free{node_limit * sizeof(std::uint32_t)}),
        counts_(block_.get()) {}

  // Starts loading the count of `node`. The array is far larger than the core's caches and
  // keys come in no useful order, so callers request a text's keys before counting them.
  void Prefetch(Node node) const { __builtin_prefetch(&counts_[node]); }

  // Counts `word`, the bytes of key `node` in a text, unless drop(word) holds; returns whether
  // it was counted. drop is asked once per key, at its first occurrence: every occurrence of a
  // key has the same bytes (valid UTF-8 encodes a rune one way only), so the answer holds.
  template <typename Drop>
  bool Add(Node node, std::string_view word, Drop&& drop) {
    std::uint32_t& count = counts_[node];
    if (count == 0) {
      if (drop(word)) {
        count = kDropped;
        return false;
      }
      seen_.push_back({word, node});
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
    for (const Seen& seen : seen_) visit(seen.word, counts_[seen.node]);
  }
  // The same with each word's key: visit(word, key, count).
  template <typename Visitor>
  void ForEachKey(Visitor&& visit) const {
    for (const Seen& seen : seen_) visit(seen.word, seen.node, counts_[seen.node]);
  }

  // The count of `node`: 0 when it was never counted (unseen, or its word dropped).
  std::uint32_t Count(Node node) const {
    const std::uint32_t count = counts_[node];
    return count == kDropped ? 0 : count;
  }

  // Number of distinct words counted.
  std::size_t size() const { return seen_.size(); }

 private:
  // The count of a node whose word is dropped, so that drop is not asked again.
  static constexpr std::uint32_t kDropped = 0xFFFFFFFFu;

#if defined(__unix__) || defined(__APPLE__)
  static std::uint32_t* ZeroedCounts(std::size_t count) {
    void* block = mmap(nullptr, count * sizeof(std::uint32_t), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return static_cast<std::uint32_t*>(block);
  }
  struct Free {
    std::size_t bytes;
    void operator()(std::uint32_t* counts) const { munmap(counts, bytes); }
  };
#else
  static std::uint32_t* ZeroedCounts(std::size_t count) {
    void* block = std::calloc(count, sizeof(std::uint32_t));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<std::uint32_t*>(block);
  }
  struct Free {
    std::size_t bytes;
    void operator()(std::uint32_t* counts) const { std::free(counts); }
  };
#endif
  struct Seen {
    std::string_view word;
    Node node;
  };

  std::unique_ptr<std::uint32_t[], Free> block_;
  std::uint32_t* counts_;  // block_, read on every word
  std::vector<Seen> seen_;
};

}  // namespace orvel::typing::text
