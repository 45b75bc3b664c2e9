#pragma once

#include <cstddef>
#include <cstdint>

#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Runes that always stand alone and are never part of a word: space, tab, line feed, the
// full-width comma and the ideographic full stop. CR and other punctuation are ordinary runes.
constexpr bool IsSeparator(Rune rune) {
  // Every rune of the text is tested: one mask test for the ASCII three, two compares above.
  constexpr std::uint64_t kAsciiSeparators = std::uint64_t{1} << 0x20 | 1u << 0x09 | 1u << 0x0A;
  return rune <= 0x20 ? (kAsciiSeparators >> rune & 1) != 0 : rune == 0xFF0C || rune == 0x3002;
}

// Calls on_range(begin, end) for every maximal stretch of non-separator runes of
// runes[0..count) and on_separator(index) for every separator, in text order.
template <typename OnRange, typename OnSeparator>
void ForEachRange(const Rune* runes, std::size_t count, OnRange on_range,
                  OnSeparator on_separator) {
  std::size_t begin = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!IsSeparator(runes[i])) continue;
    if (begin < i) on_range(begin, i);
    on_separator(i);
    begin = i + 1;
  }
  if (begin < count) on_range(begin, count);
}

}  // namespace orvel::tokenizer::jieba
