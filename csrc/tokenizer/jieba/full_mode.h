#pragma once

#include <cstddef>

#include "tokenizer/jieba/word_lookup.h"

namespace orvel::tokenizer::jieba {

// Full mode over the separator-free range [begin, end): for each position in order, the single
// rune when no word of two or more runes starts there or covers it from the left, then every
// such word starting there, shortest first. Weights play no part; any entry counts. Calls
// emit(first_rune, end_rune) for each word.
template <typename Emit>
void CutFullRange(const WordLookup& lookup, std::size_t begin, std::size_t end, Emit& emit) {
  std::size_t covered_until = begin;  // end of the longest word seen so far
  for (std::size_t i = begin; i < end; ++i) {
    std::size_t longest = 0;
    const bool covered = i < covered_until;
    bool long_word_starts = false;
    lookup.ForEachWord(i, end, [&](std::size_t length, double) {
      if (length < 2) return;
      long_word_starts = true;
      emit(i, i + length);
      longest = length;
    });
    if (!long_word_starts && !covered) emit(i, i + 1);
    if (i + longest > covered_until) covered_until = i + longest;
  }
}

}  // namespace orvel::tokenizer::jieba
