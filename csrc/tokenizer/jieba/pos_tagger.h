#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tokenizer/jieba/runtime_dictionary.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Tag of a word that has no tagged entry, decided by its first floor(n / 2) ASCII runes (a
// one-rune word examines none): "x" when there are none, "m" when all of them are digits,
// "eng" otherwise.
const char* RuleTag(const Rune* runes, std::size_t count);

// Part-of-speech tag of the word runes[0..count): the tag of its entry when that is not empty,
// else RuleTag. `codes` are the runes' trie codes when the caller has them, else null.
std::string_view LookupTag(const DictionarySnapshot& snapshot, const Rune* runes,
                           const DictionaryTrie::Code* codes, std::size_t count);

}  // namespace orvel::tokenizer::jieba
