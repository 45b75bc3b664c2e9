#include "tokenizer/jieba/max_prob_cutter.h"

#include "tokenizer/jieba/hmm_model.h"

namespace orvel::tokenizer::jieba {

void CutMaxProbability(const Dictionary& dictionary, const DictionaryTrie::Code* codes,
                       const WordCandidates& candidates, std::size_t count, double* best,
                       std::uint32_t* word_length) {
  const DictionaryTrie& trie = dictionary.trie;
  // A word reaching the end of the range adds nothing after it.
  best[count] = 0.0;
  for (std::size_t i = count; i-- > 0;) {
    // Candidates in the reference's order: the single rune first, then longer words by length.
    // A candidate must beat the best so far strictly, so ties keep the shorter word, and one
    // that is not above kMinLogProb (-inf, NaN, or saturated sums) is never taken: neither is
    // a missing word, which weighs -inf. No word found crosses the range's end.
    double best_here = kMinLogProb;
    std::size_t length_here = 1;
    const double single_value = best[i + 1] + candidates.single[i];
    if (single_value > best_here) best_here = single_value;
    if (i + 2 <= count) {
      const double value = best[i + 2] + candidates.pair[i];
      if (value > best_here) {
        best_here = value;
        length_here = 2;
      }
    }
    if (i + 3 <= count) {
      const double value = best[i + 3] + candidates.triple[i];
      if (value > best_here) {
        best_here = value;
        length_here = 3;
      }
    }
    // Longer words by walking on. The trie holds no word longer than kMaxWordRunes, so the
    // walk needs no length cap.
    DictionaryTrie::Node node = candidates.third[i];
    if (node != DictionaryTrie::kNotFound) {
      for (std::size_t end = i + WordCandidates::kSteps; end < count; ++end) {
        node = trie.Child(node, codes[end]);
        if (node == DictionaryTrie::kNotFound) break;
        if (!trie.IsWord(node)) continue;
        const double value = best[end + 1] + trie.Weight(node);
        if (value > best_here) {
          best_here = value;
          length_here = end + 1 - i;
        }
      }
    }
    best[i] = best_here;
    word_length[i] = static_cast<std::uint32_t>(length_here);
  }
}

}  // namespace orvel::tokenizer::jieba
