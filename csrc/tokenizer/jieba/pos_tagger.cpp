#include "tokenizer/jieba/pos_tagger.h"

namespace orvel::tokenizer::jieba {

const char* RuleTag(const Rune* runes, std::size_t count) {
  // Only the leading ASCII runes up to half the word's length count, so "AK47" is decided by
  // "AK" and "3.5" by "3" alone.
  const std::size_t limit = count / 2;
  std::size_t ascii = 0;
  std::size_t digits = 0;
  for (std::size_t i = 0; i < count && ascii < limit; ++i) {
    if (runes[i] >= 0x80) continue;
    ++ascii;
    if (runes[i] >= '0' && runes[i] <= '9') ++digits;
  }
  if (ascii == 0) return "x";
  return digits == ascii ? "m" : "eng";
}

std::string_view LookupTag(const DictionarySnapshot& snapshot, const Rune* runes,
                           const DictionaryTrie::Code* codes, std::size_t count) {
  const std::string* tag = count == 0 ? nullptr : snapshot.EntryTag(runes, codes, count);
  if (tag != nullptr && !tag->empty()) return *tag;
  return RuleTag(runes, count);
}

}  // namespace orvel::tokenizer::jieba
