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

  bool IsUserSingleRune(Rune rune) const {
    return !user_single_runes.empty() &&
           std::binary_search(user_single_runes.begin(), user_single_runes.end(), rune);
  }
};

}  // namespace orvel::tokenizer::jieba
