#include "tokenizer/jieba/max_prob_cutter.h"

#include <algorithm>

#include "tokenizer/jieba/hmm_model.h"

namespace orvel::tokenizer::jieba {

void PrefetchWalks(const DictionaryTrie& trie, const DictionaryTrie::Code* codes, std::size_t count,
                   std::size_t end, std::size_t& prefetched) {
  const std::size_t until = std::min(count, end + kPrefetchWalksAhead);
  // The last rune starts no walk of two runes, so the loop needs no bounds test.
  const std::size_t paired = std::min(until, count - (count > 0));
  // Starts of the range about to be cut go in the order the DP takes them, last first, so that
  // the walks it needs first have had the longest to arrive.
  const std::size_t first_beyond = std::min(end, paired);
  for (std::size_t start = first_beyond; start-- > prefetched;) {
    trie.PrefetchSecondStep(codes[start], codes[start + 1]);
  }
  // A local cursor: the compiler stores one reached through a reference at every step.
  std::size_t start = std::max(prefetched, first_beyond);
  for (; start < paired; ++start) trie.PrefetchSecondStep(codes[start], codes[start + 1]);
  prefetched = std::max(start, until);
}

void CutMaxProbability(const Dictionary& dictionary, const DictionaryTrie::Code* codes,
                       std::size_t count, double* best, std::uint32_t* word_length,
                       DictionaryTrie::Node* word_node) {
  const DictionaryTrie& trie = dictionary.trie;
  const double* single_rune_weights = dictionary.single_rune_weights.data();
  // A word reaching the end of the range adds nothing after it.
  best[count] = 0.0;
  for (std::size_t i = count; i-- > 0;) {
    // Candidates in the reference's order: the single rune first, then longer words by length.
    // A candidate must beat the best so far strictly, so ties keep the shorter word, and one
    // that is not above kMinLogProb (-inf, NaN, or saturated sums) is never taken.
    double best_here = kMinLogProb;
    std::size_t length_here = 1;
    DictionaryTrie::Node node = trie.RootChild(codes[i]);
    DictionaryTrie::Node node_here = node;
    const double single_value = best[i + 1] + single_rune_weights[codes[i]];
    if (single_value > best_here) best_here = single_value;
    // Longer words. The second step's slot was requested by PrefetchWalks. The trie holds no
    // word longer than kMaxWordRunes, so the walk needs no length cap.
    if (node != DictionaryTrie::kNotFound && i + 1 < count) {
      node = trie.ChildOfPrefetched(node, codes[i + 1]);
      for (std::size_t end = i + 1; node != DictionaryTrie::kNotFound;) {
        if (trie.IsWord(node)) {
          const double value = best[end + 1] + trie.Weight(node);
          if (value > best_here) {
            best_here = value;
            length_here = end + 1 - i;
            node_here = node;
          }
        }
        if (++end == count) break;
        node = trie.Child(node, codes[end]);
      }
    }
    best[i] = best_here;
    word_length[i] = static_cast<std::uint32_t>(length_here);
    if (word_node != nullptr) word_node[i] = node_here;
  }
}

}  // namespace orvel::tokenizer::jieba
