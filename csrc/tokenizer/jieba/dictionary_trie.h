#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tokenizer/jieba/rune_map.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Dictionary words in precedence order, the input for building a DictionaryTrie: when two
// entries have the same runes, the later one is the word's entry.
class WordEntries {
 public:
  WordEntries() { starts_.push_back(0); }

  void Reserve(std::size_t word_count, std::size_t rune_count) {
    runes_.reserve(rune_count);
    starts_.reserve(word_count + 1);
    weights_.reserve(word_count);
  }

  // Adds the runes appended to runes() since the previous Add (or since construction) as one
  // word. Appending first and then committing avoids a copy per word while loading.
  std::vector<Rune>& runes() { return runes_; }
  void Add(double weight) {
    starts_.push_back(static_cast<std::uint32_t>(runes_.size()));
    weights_.push_back(weight);
  }

  // Loaders may store a provisional value (e.g. a frequency) and convert it once all are known.
  void SetWeight(std::size_t word, double weight) { weights_[word] = weight; }

  std::size_t size() const { return weights_.size(); }
  std::size_t Length(std::size_t word) const { return starts_[word + 1] - starts_[word]; }
  const Rune* Runes(std::size_t word) const { return runes_.data() + starts_[word]; }
  double Weight(std::size_t word) const { return weights_[word]; }

 private:
  std::vector<Rune> runes_;
  std::vector<std::uint32_t> starts_;
  std::vector<double> weights_;
};

// Read-only prefix tree over rune sequences. Nodes are numbered breadth first, so the children
// of a node are a contiguous, label-sorted slice of flat arrays and the whole tree is a handful
// of allocations. The root's children, which every lookup starts from, are found through a
// RuneMap instead of a search.
class DictionaryTrie {
 public:
  using Node = std::uint32_t;
  // Lookups never return the root, so its id doubles as "not found".
  static constexpr Node kNotFound = 0;

  DictionaryTrie() = default;
  // Words longer than `max_word_runes` are left out: the cutter never matches them.
  DictionaryTrie(const WordEntries& words, std::size_t max_word_runes);

  Node FindFirst(Rune rune) const { return root_children_.Find(rune); }

  Node FindChild(Node node, Rune rune) const {
    std::uint32_t low = first_child_[node];
    std::uint32_t high = first_child_[node + 1];
    // Most nodes below the first level have only a few children, where a scan beats bisection.
    while (high - low > 8) {
      const std::uint32_t middle = low + (high - low) / 2;
      if (labels_[middle] <= rune) {
        low = middle;
      } else {
        high = middle;
      }
    }
    for (; low < high; ++low) {
      if (labels_[low] == rune) return low;
    }
    return kNotFound;
  }

  bool IsWord(Node node) const { return entry_[node] != kNoEntry; }
  double Weight(Node node) const { return weights_[entry_[node]]; }

  // Whether runes[0..count) is exactly a dictionary word (count >= 1).
  bool Contains(const Rune* runes, std::size_t count) const;

  std::size_t node_count() const { return labels_.size(); }

 private:
  static constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;

  std::vector<Rune> labels_;                // rune on the edge into each node
  std::vector<std::uint32_t> first_child_;  // node_count() + 1 entries
  std::vector<std::uint32_t> entry_;        // index into weights_, or kNoEntry
  std::vector<double> weights_;
  RuneMap root_children_;
};

}  // namespace orvel::tokenizer::jieba
