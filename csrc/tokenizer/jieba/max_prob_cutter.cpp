#include "tokenizer/jieba/max_prob_cutter.h"

#include <algorithm>

#include "tokenizer/jieba/hmm_model.h"

namespace orvel::tokenizer::jieba {

void PrefetchWalks(const DictionaryTrie& trie, const DictionaryTrie::Code* codes, std::size_t count,
                   WalkPrefetch& state, std::size_t end) {
  const auto code = [&](std::size_t i) { return i < count ? codes[i] : DictionaryTrie::kNoCode; };
  // Third steps only where an earlier call requested the second step: its slot has had time
  // to arrive, so finding the third step's address does not wait for it. Then second steps
  // well ahead.
  const std::size_t third_end = std::min(state.second, end + kPrefetchWalksAhead / 2);
  for (; state.third < third_end; ++state.third) {
    trie.PrefetchThirdStep(codes[state.third], code(state.third + 1), code(state.third + 2));
  }
  const std::size_t second_end = std::min(count, end + kPrefetchWalksAhead);
  for (; state.second < second_end; ++state.second) {
    trie.PrefetchSecondStep(codes[state.second], code(state.second + 1));
  }
}

void CutMaxProbability(const Dictionary& dictionary, const DictionaryTrie::Code* codes,
                       std::size_t count, double* best, std::uint32_t* word_length) {
  const DictionaryTrie& trie = dictionary.trie;
  // A word reaching the end of the range adds nothing after it.
  best[count] = 0.0;
  for (std::size_t i = count; i-- > 0;) {
    // Candidates in the reference's order: the single rune first, then longer words by length.
    // A candidate must beat the best so far strictly, so ties keep the shorter word, and one
    // that is not above kMinLogProb (-inf, NaN, or saturated sums) is never taken.
    double best_here = kMinLogProb;
    std::size_t length_here = 1;
    DictionaryTrie::Node node = trie.Child(DictionaryTrie::kRoot, codes[i]);
    const double single_weight = node != DictionaryTrie::kNotFound && trie.IsWord(node)
                                     ? trie.Weight(node)
                                     : dictionary.min_weight;
    const double single_value = best[i + 1] + single_weight;
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
          }
        }
        if (++end == count) break;
        node = trie.Child(node, codes[end]);
      }
    }
    best[i] = best_here;
    word_length[i] = static_cast<std::uint32_t>(length_here);
  }
}

}  // namespace orvel::tokenizer::jieba
