#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "tokenizer/jieba/dictionary_trie.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Longest word the maximum-probability cut considers; longer entries can never match.
inline constexpr std::size_t kMaxWordRunes = 512;

// Everything cutting needs from the main and user dictionaries.
struct Dictionary {
  DictionaryTrie trie;
  // Weight of a single rune that is not a dictionary word: the lowest main-dictionary weight.
  double min_weight = 0.0;
  // Runes that a user dictionary lists as one-rune words; mixed mode never hands them to the
  // HMM. Sorted and unique.
  std::vector<Rune> user_single_runes;
  // By trie code: the weight of the code's rune as a one-rune word, min_weight where it is
  // none (kNoCode included). The maximum-probability cut weighs a single rune at every start,
  // and one load from this table replaces a root step, a word test and a weight lookup. Set by
  // SingleRuneWeights whenever the trie or min_weight changes.
  std::vector<double> single_rune_weights;

  bool IsUserSingleRune(Rune rune) const {
    return !user_single_runes.empty() &&
           std::binary_search(user_single_runes.begin(), user_single_runes.end(), rune);
  }
};

// The table Dictionary::single_rune_weights holds for `trie` and `min_weight`.
inline std::vector<double> SingleRuneWeights(const DictionaryTrie& trie, double min_weight) {
  // An empty trie still has kNoCode, the code of every rune.
  std::vector<double> weights(std::max<std::size_t>(trie.code_count(), 1), min_weight);
  for (DictionaryTrie::Code code = 1; code < trie.code_count(); ++code) {
    const DictionaryTrie::Node node = trie.RootChild(code);
    if (node != DictionaryTrie::kNotFound && trie.IsWord(node)) weights[code] = trie.Weight(node);
  }
  return weights;
}

}  // namespace orvel::tokenizer::jieba
