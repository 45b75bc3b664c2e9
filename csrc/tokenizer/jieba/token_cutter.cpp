#include "tokenizer/jieba/token_cutter.h"

#include <cstdint>

#include "tokenizer/jieba/cut_workspace.h"
#include "tokenizer/jieba/full_mode.h"
#include "tokenizer/jieba/hmm_cutter.h"
#include "tokenizer/jieba/max_prob_cutter.h"
#include "tokenizer/jieba/separator_filter.h"
#include "tokenizer/jieba/single_rune_runs.h"
#include "tokenizer/jieba/word_lookup.h"

namespace orvel::tokenizer::jieba {
namespace {

constexpr std::size_t kCountRunesAbove = 4096;

// The maximum-probability choice of the trie cutter, over a lookup that includes run-time
// changes: the single rune first, then longer words by length; a candidate must beat the best
// so far strictly, so ties keep the shorter word.
void CutMaxProbabilityWithLookup(const WordLookup& lookup, double min_weight, std::size_t begin,
                                 std::size_t end, double* best, std::uint32_t* word_length) {
  best[end] = 0.0;
  for (std::size_t i = end; i-- > begin;) {
    double best_here = kMinLogProb;
    std::size_t length_here = 1;
    double single_weight = min_weight;
    bool single_done = false;
    const auto take_single = [&] {
      const double value = best[i + 1] + single_weight;
      if (value > best_here) best_here = value;
      single_done = true;
    };
    lookup.ForEachWord(i, end, [&](std::size_t length, double weight) {
      if (length == 1) {
        single_weight = weight;
        return;
      }
      if (!single_done) take_single();
      const double value = best[i + length] + weight;
      if (value > best_here) {
        best_here = value;
        length_here = length;
      }
    });
    if (!single_done) take_single();
    best[i] = best_here;
    word_length[i] = static_cast<std::uint32_t>(length_here);
  }
}

// Mixed-mode words of the separator-free range [begin, end) into word_length.
void CutRange(const DictionarySnapshot& snapshot, const WordLookup& lookup, bool hmm,
              std::size_t begin, std::size_t end, CutWorkspace& workspace) {
  const Dictionary& dictionary = snapshot.segmenter->dictionary();
  std::uint32_t* word_length = workspace.word_length;
  if (lookup.OverlayTouches(begin, end)) {
    CutMaxProbabilityWithLookup(lookup, dictionary.min_weight, begin, end, workspace.best,
                                word_length);
  } else {
    CutMaxProbability(dictionary, workspace.codes + begin, end - begin, workspace.best + begin,
                      word_length + begin);
  }
  if (!hmm) return;
  CutSingleRuneRuns(dictionary, snapshot.segmenter->model(), workspace.runes, begin, end,
                    workspace.hmm, word_length, [](std::size_t, std::size_t) {});
}

}  // namespace

bool CutTokens(const DictionarySnapshot& snapshot, std::string_view sentence, TokenMode mode,
               bool hmm, std::vector<Token>& tokens) {
  tokens.clear();
  // Long sentences are counted first, to keep their workspace to the runes they have.
  std::size_t capacity = sentence.size();
  if (capacity > kCountRunesAbove) {
    capacity = CountRunes(sentence);
    if (capacity == kUndecodable) return false;
  }
  // Sized by the sentence's bytes (never fewer than its runes), so that no counting pass is
  // needed; a short sentence's fits on the stack.
  CutWorkspace workspace(capacity);
  const std::size_t count = DecodeRunes(sentence, workspace.runes, workspace.offsets);
  if (count == kUndecodable) return false;
  tokens.reserve(count);
  const DictionaryTrie& trie = snapshot.segmenter->dictionary().trie;
  for (std::size_t i = 0; i < count; ++i) workspace.codes[i] = trie.CodeOf(workspace.runes[i]);
  const WordLookup lookup(snapshot, workspace.runes, workspace.codes);
  const std::size_t* offsets = workspace.offsets;
  const auto emit = [&](std::size_t begin, std::size_t end) {
    tokens.push_back({offsets[begin], offsets[end], begin, end});
  };

  std::size_t prefetched = 0;  // walks from the starts before it have been requested
  if (mode == TokenMode::kFull) {
    // Full mode walks the trie from every start as the DP does, so it gains alike.
    ForEachRange(
        workspace.runes, count,
        [&](std::size_t begin, std::size_t end) {
          PrefetchWalks(trie, workspace.codes, count, end, prefetched);
          CutFullRange(lookup, begin, end, emit);
        },
        [&](std::size_t index) { emit(index, index + 1); });
    return true;
  }

  ForEachRange(
      workspace.runes, count,
      [&](std::size_t begin, std::size_t end) {
        PrefetchWalks(trie, workspace.codes, count, end, prefetched);
        CutRange(snapshot, lookup, hmm, begin, end, workspace);
      },
      [&](std::size_t index) { workspace.word_length[index] = 1; });
  for (std::size_t i = 0; i < count;) {
    const std::size_t length = workspace.word_length[i];
    if (mode == TokenMode::kSearch && length > 2) {
      // 2-rune windows that are dictionary words, then 3-rune ones; nothing de-duplicated.
      for (std::size_t window = 2; window <= 3 && window < length; ++window) {
        for (std::size_t start = i; start + window <= i + length; ++start) {
          if (lookup.Contains(start, window)) emit(start, start + window);
        }
      }
    }
    emit(i, i + length);
    i += length;
  }
  return true;
}

}  // namespace orvel::tokenizer::jieba
