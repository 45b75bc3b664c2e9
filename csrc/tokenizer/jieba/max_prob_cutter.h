#pragma once

#include <cstddef>
#include <cstdint>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Maximum-probability segmentation of one separator-free range of `count` runes, given by
// their trie codes (DictionaryTrie::CodeOf). Sets
// word_length[i] (1..kMaxWordRunes) to the length of the best word starting at rune i; the
// words are then read left to right by jumping over each word. `best` is scratch of count + 1
// doubles.
// Runes ahead of the range being cut whose walks PrefetchWalks requests.
inline constexpr std::size_t kPrefetchWalksAhead = 64;

// How far PrefetchWalks has got in a sentence: the starts below `second` have had their
// second steps requested, those below `third` their third steps.
struct WalkPrefetch {
  std::size_t second = 0;
  std::size_t third = 0;
};

// Requests the loads of the second and third steps of the walks from the starts of `count`
// runes up to some way past `end`, where the DP is about to cut. On unseen text those steps
// miss the cache at most starts, the trie being far larger than the core's caches, and the DP
// takes one walk after another, each waiting for its misses. Requested together, ahead of the
// DP and without branches, the misses overlap instead.
void PrefetchWalks(const DictionaryTrie& trie, const DictionaryTrie::Code* codes, std::size_t count,
                   WalkPrefetch& state, std::size_t end);

void CutMaxProbability(const Dictionary& dictionary, const DictionaryTrie::Code* codes,
                       std::size_t count, double* best, std::uint32_t* word_length);

}  // namespace orvel::tokenizer::jieba
