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

// Read-only prefix tree over rune sequences, stored as a double array: runes are first mapped
// to dense codes (frequent runes get small ones), and the child of node s for code c is the
// slot base(s) + c if that slot records s as its parent. A step is one array access, and each
// slot also carries the word's weight, so a dictionary walk touches one cache line per rune.
class DictionaryTrie {
 public:
  using Node = std::uint32_t;
  using Code = std::uint32_t;
  // Code of runes that occur in no dictionary word; it has no transitions.
  static constexpr Code kNoCode = 0;
  // Children are never the root, so its slot doubles as "not found".
  static constexpr Node kRoot = 0;
  static constexpr Node kNotFound = 0;

  DictionaryTrie() = default;
  // Words longer than `max_word_runes` are left out: the cutter never matches them.
  DictionaryTrie(const WordEntries& words, std::size_t max_word_runes);

  Code CodeOf(Rune rune) const { return codes_.Find(rune); }

  // The child of `node` along `code`, or kNotFound. kNoCode always gives kNotFound: no child
  // sits at offset 0 from its parent's base.
  Node Child(Node node, Code code) const {
    const Node child = (slots_[node].base & kBaseMask) + code;
    return slots_[child].parent == node ? child : kNotFound;
  }

  bool IsWord(Node node) const { return (slots_[node].base & kWordBit) != 0; }
  double Weight(Node node) const { return slots_[node].weight; }

  // Whether the runes with codes[0..count) (count >= 1) form exactly a dictionary word.
  bool Contains(const Code* codes, std::size_t count) const;

  std::size_t slot_count() const { return slots_.size(); }

 private:
  static constexpr std::uint32_t kWordBit = 0x80000000u;
  static constexpr std::uint32_t kBaseMask = ~kWordBit;
  static constexpr Node kFree = 0xFFFFFFFFu;

  struct Slot {
    std::uint32_t base = 0;  // children's offset, plus kWordBit when a word ends here
    Node parent = kFree;     // kFree for unused slots and the root
    double weight = 0.0;     // the word's weight when kWordBit is set
  };

  static std::vector<Slot> BuildSlots(const WordEntries& words,
                                      const std::vector<std::uint32_t>& sorted_ids,
                                      const RuneMap& codes, Code max_code);

  std::vector<Slot> slots_;
  RuneMap codes_;
};

}  // namespace orvel::tokenizer::jieba
