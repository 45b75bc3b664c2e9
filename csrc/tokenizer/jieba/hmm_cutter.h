#pragma once

#include <cstddef>
#include <cstdint>

#include "tokenizer/jieba/hmm_model.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Scratch bytes CutWithHmm needs for a run of `count` runes.
constexpr std::size_t HmmScratchBytes(std::size_t count) {
  return count * (kHmmStateCount + 1);
}

// Cuts a run of runes that the dictionary pass left as single runes: ASCII letters and digits
// become tokens (with an optional ".digits" suffix), other ASCII runes stand alone, and each
// stretch of non-ASCII runes between them is cut by Viterbi decoding. Stores the length of each
// resulting word at the word's first rune in `word_length`; entries inside words are left as
// they were. `scratch` holds HmmScratchBytes(count) bytes.
void CutWithHmm(const HmmModel& model, const Rune* runes, std::size_t count, std::uint8_t* scratch,
                std::uint32_t* word_length);

}  // namespace orvel::tokenizer::jieba
