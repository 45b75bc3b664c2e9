#pragma once

#include <cstddef>
#include <cstdint>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/hmm_cutter.h"
#include "tokenizer/jieba/hmm_model.h"

namespace orvel::tokenizer::jieba {

// The HMM stage of a mixed-mode cut, after the dictionary pass has set word_length over the
// separator-free runes[begin, end): multi-rune words and user-declared single runes stand, and
// each maximal run of two or more other single runes goes to the HMM, which may join them into
// unknown words. A lone rune stays the one-rune word the dictionary pass made it, whatever the
// HMM would say; most runs are lone runes. Calls joined(run_begin, run_end) after each run the
// HMM cut. `hmm_scratch` holds HmmScratchBytes(end - begin) bytes.
template <typename OnJoined>
void CutSingleRuneRuns(const Dictionary& dictionary, const HmmModel& model, const Rune* runes,
                       std::size_t begin, std::size_t end, std::uint8_t* hmm_scratch,
                       std::uint32_t* word_length, OnJoined joined) {
  // Whether there are user single runes at all is asked once: the compiler cannot keep the
  // answer across the HMM's stores.
  const bool user_single_runes = !dictionary.user_single_runes.empty();
  const auto stands_alone = [&](std::size_t i) {
    return word_length[i] > 1 || (user_single_runes && dictionary.IsUserSingleRune(runes[i]));
  };
  std::size_t i = begin;
  while (i < end) {
    if (stands_alone(i)) {
      i += word_length[i];
      continue;
    }
    std::size_t run_end = i + 1;
    while (run_end < end && !stands_alone(run_end)) ++run_end;
    if (run_end - i > 1) {
      CutWithHmm(model, runes + i, run_end - i, hmm_scratch, word_length + i);
      joined(i, run_end);
    }
    i = run_end;
  }
}

}  // namespace orvel::tokenizer::jieba
