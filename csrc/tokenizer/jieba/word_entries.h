#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

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
    // Offsets are 32-bit to keep the list small; past that they would wrap and words would
    // point outside the rune array.
    if (runes_.size() > std::numeric_limits<std::uint32_t>::max()) {
      throw std::length_error("the dictionaries hold more than 2^32 runes in all");
    }
    starts_.push_back(static_cast<std::uint32_t>(runes_.size()));
    weights_.push_back(weight);
  }

  // Gives back the room reserved for loading, for lists kept after the trie is built.
  void ShrinkToFit() {
    runes_.shrink_to_fit();
    starts_.shrink_to_fit();
    weights_.shrink_to_fit();
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

}  // namespace orvel::tokenizer::jieba
