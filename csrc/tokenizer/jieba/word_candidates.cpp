#include "tokenizer/jieba/word_candidates.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace orvel::tokenizer::jieba {
namespace {

using Node = DictionaryTrie::Node;
using Code = DictionaryTrie::Code;

// Starts stepped together: enough for many cache misses to be in flight at once, few enough
// that the slots they bring in are still in cache when their weights are read.
constexpr std::size_t kChunk = 128;

// The steps of the starts [first, first + size) of `count` runes. On unseen text the second
// step of most walks and the third of many miss the cache: the trie is far larger than the
// core's caches. A walk's steps depend on each other, but walks from different starts do not;
// so each step is taken for all live starts of the chunk at once, first requesting every
// walk's slot and then reading them, without branches on what the slots hold. The misses are
// then in flight together instead of one after another.
void StepChunk(const Dictionary& dictionary, const Code* codes, std::size_t count,
               std::size_t first, std::size_t size, const WordCandidates& out) {
  const DictionaryTrie& trie = dictionary.trie;
  constexpr double kNoWord = -std::numeric_limits<double>::infinity();
  Node nodes[WordCandidates::kSteps][kChunk];
  std::uint32_t live[kChunk];  // chunk offsets of the walks still on, appended without branches
  std::size_t live_count = 0;
  for (std::size_t k = 0; k < size; ++k) {
    const Node node = trie.Child(DictionaryTrie::kRoot, codes[first + k]);
    nodes[0][k] = node;
    out.single[first + k] = trie.IsWord(node) ? trie.Weight(node) : dictionary.min_weight;
    live[live_count] = static_cast<std::uint32_t>(k);
    live_count += node != DictionaryTrie::kNotFound;
  }
  Node slots[kChunk];
  double* weights[WordCandidates::kSteps] = {out.single, out.pair, out.triple};
  for (std::size_t step = 1; step < WordCandidates::kSteps; ++step) {
    const Node* from = nodes[step - 1];
    Node* to = nodes[step];
    std::fill(to, to + size, DictionaryTrie::kNotFound);
    std::fill(weights[step] + first, weights[step] + first + size, kNoWord);
    for (std::size_t j = 0; j < live_count; ++j) {
      const std::size_t at = first + live[j] + step;
      // No rune follows the last one: kNoCode has no transitions.
      const Code code = at < count ? codes[at] : DictionaryTrie::kNoCode;
      slots[j] = trie.ChildSlot(from[live[j]], code);
      trie.PrefetchSlot(slots[j]);
    }
    std::size_t still_live = 0;
    for (std::size_t j = 0; j < live_count; ++j) {
      const std::size_t k = live[j];
      const Node node = trie.ChildAt(from[k], slots[j]);
      to[k] = node;
      if (node != DictionaryTrie::kNotFound && trie.IsWord(node)) {
        weights[step][first + k] = trie.Weight(node);
      }
      live[still_live] = static_cast<std::uint32_t>(k);
      still_live += node != DictionaryTrie::kNotFound;
    }
    live_count = still_live;
  }
  std::copy(nodes[2], nodes[2] + size, out.third + first);
}

}  // namespace

void FindWordCandidates(const Dictionary& dictionary, const Code* codes, std::size_t count,
                        const WordCandidates& candidates) {
  for (std::size_t first = 0; first < count; first += kChunk) {
    StepChunk(dictionary, codes, count, first, std::min(kChunk, count - first), candidates);
  }
}

}  // namespace orvel::tokenizer::jieba
