#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/runtime_dictionary.h"

namespace orvel::tokenizer::jieba {

// A word with its place in the sentence: bytes [byte_begin, byte_end) and runes
// [rune_begin, rune_end), rune indexes counted over the whole sentence.
struct Token {
  std::size_t byte_begin;
  std::size_t byte_end;
  std::size_t rune_begin;
  std::size_t rune_end;
};

enum class TokenMode {
  kMixed,   // the maximum-probability words, single runes regrouped by the HMM when asked
  kSearch,  // the mixed words, each preceded by its in-dictionary 2- and 3-rune sub-words
  kFull,    // every dictionary word in the text, overlapping, with uncovered single runes
};

// Cuts `sentence` with the snapshot's dictionary, run-time changes included. `hmm` selects
// whether runs of single runes go to the HMM (mixed and search modes; full mode never uses it).
// Replaces `tokens`; returns false, leaving it empty, when the sentence is not decodable.
bool CutTokens(const DictionarySnapshot& snapshot, std::string_view sentence, TokenMode mode,
               bool hmm, std::vector<Token>& tokens);

}  // namespace orvel::tokenizer::jieba
