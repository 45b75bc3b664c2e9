#pragma once

#include <cstddef>

#include "tokenizer/jieba/dictionary.h"

namespace orvel::tokenizer::jieba {

// The first trie steps of the walk from every start of a sentence, gathered before the
// maximum-probability DP consumes them. Plain arrays with one entry per rune, owned by the
// caller's workspace; entry i describes the words that start at rune i.
struct WordCandidates {
  // Runes a walk takes here; longer words are found by walking on from `third`.
  static constexpr std::size_t kSteps = 3;

  double* single;  // weight of rune i as a one-rune word; min_weight when it is no word
  double* pair;    // weight of runes i..i+1 as a word; -inf when they are none
  double* triple;  // the same for runes i..i+2
  DictionaryTrie::Node* third;  // trie node of runes i..i+2, kNotFound when it has none

  // The same arrays from rune `offset` on.
  WordCandidates From(std::size_t offset) const {
    return {single + offset, pair + offset, triple + offset, third + offset};
  }
};

// Bytes of the arrays of WordCandidates for `rune_count` runes.
constexpr std::size_t WordCandidatesBytes(std::size_t rune_count) {
  return rune_count * (3 * sizeof(double) + sizeof(DictionaryTrie::Node));
}

// Fills entries [0, count) of `candidates` from the trie codes of `count` runes. Walks stop at
// the end of the runes and at kNoCode, which callers give to separators so that no word found
// here crosses one. A missing word weighs -inf, which the DP never takes, as it never takes a
// word whose weight is -inf.
void FindWordCandidates(const Dictionary& dictionary, const DictionaryTrie::Code* codes,
                        std::size_t count, const WordCandidates& candidates);

}  // namespace orvel::tokenizer::jieba
