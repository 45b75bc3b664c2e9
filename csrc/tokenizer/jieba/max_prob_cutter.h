#pragma once

#include <cstddef>
#include <cstdint>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/word_candidates.h"

namespace orvel::tokenizer::jieba {

// Maximum-probability segmentation of one separator-free range of `count` runes, given by
// their trie codes (DictionaryTrie::CodeOf) and their word candidates (FindWordCandidates over
// these runes or a sentence holding them, both arrays starting at the range's first rune).
// Sets word_length[i] (1..kMaxWordRunes) to the length of the best word starting at rune i; the
// words are then read left to right by jumping over each word. `best` is scratch of count + 1
// doubles.
void CutMaxProbability(const Dictionary& dictionary, const DictionaryTrie::Code* codes,
                       const WordCandidates& candidates, std::size_t count, double* best,
                       std::uint32_t* word_length);

}  // namespace orvel::tokenizer::jieba
