#include "tokenizer/jieba/segmenter.h"

#include <cstdint>
#include <utility>

#include "tokenizer/jieba/hmm_cutter.h"
#include "tokenizer/jieba/max_prob_cutter.h"
#include "tokenizer/jieba/separator_filter.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {
namespace {

// Per-call working memory, sized once per sentence so the cutting loops never allocate.
struct CutScratch {
  explicit CutScratch(std::size_t rune_count)
      : best(rune_count + 1), word_length(rune_count), hmm(HmmScratchBytes(rune_count)) {}

  std::vector<double> best;
  std::vector<std::uint16_t> word_length;
  std::vector<std::uint8_t> hmm;
};

// Mixed-mode words of the separator-free range runes[begin..end), appended as rune spans.
void AppendMixedWords(const Dictionary& dictionary, const HmmModel& model,
                      const std::vector<Rune>& runes, std::size_t begin, std::size_t end,
                      CutScratch& scratch, std::vector<WordSpan>& words) {
  const Rune* range = runes.data() + begin;
  const std::size_t count = end - begin;
  const std::uint16_t* word_length = scratch.word_length.data() + begin;
  CutMaxProbability(dictionary, range, count, scratch.best.data() + begin,
                    scratch.word_length.data() + begin);
  // Multi-rune words and user-declared single runes stand; each maximal run of other single
  // runes goes to the HMM, which may join them into unknown words.
  const auto stands_alone = [&](std::size_t i) {
    return word_length[i] > 1 || dictionary.IsUserSingleRune(range[i]);
  };
  std::size_t i = 0;
  while (i < count) {
    if (stands_alone(i)) {
      words.push_back({begin + i, begin + i + word_length[i]});
      i += word_length[i];
      continue;
    }
    std::size_t run_end = i + 1;
    while (run_end < count && !stands_alone(run_end)) ++run_end;
    CutWithHmm(model, range + i, run_end - i, begin + i, scratch.hmm.data(), words);
    i = run_end;
  }
}

// Search mode: every mixed word is preceded by its 2-rune and then its 3-rune windows that are
// dictionary words (any entry counts, whatever its weight). Nothing is de-duplicated.
void ExpandForSearch(const DictionaryTrie& trie, const std::vector<Rune>& runes,
                     const std::vector<WordSpan>& mixed, std::vector<WordSpan>& words) {
  for (const WordSpan word : mixed) {
    const std::size_t length = word.end - word.begin;
    for (std::size_t window = 2; window <= 3; ++window) {
      if (length <= window) break;
      for (std::size_t start = word.begin; start + window <= word.end; ++start) {
        if (trie.Contains(runes.data() + start, window)) words.push_back({start, start + window});
      }
    }
    words.push_back(word);
  }
}

}  // namespace

Segmenter::Segmenter(Dictionary dictionary, HmmModel model)
    : dictionary_(std::move(dictionary)), model_(std::move(model)) {}

bool Segmenter::Cut(std::string_view sentence, CutMode mode, std::vector<WordSpan>& words) const {
  words.clear();
  std::vector<Rune> runes;
  std::vector<std::size_t> offsets;
  if (!DecodeSentence(sentence, runes, offsets)) return false;

  CutScratch scratch(runes.size());
  std::vector<WordSpan> mixed_for_search;
  std::vector<WordSpan>& mixed = mode == CutMode::kMixed ? words : mixed_for_search;
  ForEachRange(
      runes.data(), runes.size(),
      [&](std::size_t begin, std::size_t end) {
        AppendMixedWords(dictionary_, model_, runes, begin, end, scratch, mixed);
      },
      [&](std::size_t index) {
        mixed.push_back({index, index + 1});
      });
  if (mode == CutMode::kSearch) ExpandForSearch(dictionary_.trie, runes, mixed, words);

  for (WordSpan& word : words) word = {offsets[word.begin], offsets[word.end]};
  return true;
}

}  // namespace orvel::tokenizer::jieba
