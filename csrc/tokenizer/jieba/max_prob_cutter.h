#pragma once

#include <cstddef>
#include <cstdint>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Runes ahead of the range being cut whose walks PrefetchWalks requests.
inline constexpr std::size_t kPrefetchWalksAhead = 64;

// Requests the slots that the second steps of the walks from the starts [*prefetched, end +
// kPrefetchWalksAhead) of `count` runes read, and advances *prefetched past them; `end` is the
// end of the range the DP is about to cut. On unseen text that step misses the cache at most
// starts, the trie being far larger than the core's caches, and the DP takes one walk after
// another, each waiting for its miss. Requested together, ahead of the DP, the misses overlap
// instead. (Requesting third steps as well, a call later, showed no gain: few walks get there.)
void PrefetchWalks(const DictionaryTrie& trie, const DictionaryTrie::Code* codes, std::size_t count,
                   std::size_t end, std::size_t& prefetched);

// Maximum-probability segmentation of one separator-free range of `count` runes, given by
// their trie codes (DictionaryTrie::CodeOf). Sets
// word_length[i] (1..kMaxWordRunes) to the length of the best word starting at rune i; the
// words are then read left to right by jumping over each word. `best` is scratch of count + 1
// doubles. The result does not depend on PrefetchWalks, only the speed on unseen text does.
// When `word_node` is not null, word_node[i] gets the trie node that spells that word (the walk
// passes it anyway; for a single rune it may be a node of a prefix only), or kNotFound for a
// single rune that no dictionary word holds.
void CutMaxProbability(const Dictionary& dictionary, const DictionaryTrie::Code* codes,
                       std::size_t count, double* best, std::uint32_t* word_length,
                       DictionaryTrie::Node* word_node = nullptr);

}  // namespace orvel::tokenizer::jieba
