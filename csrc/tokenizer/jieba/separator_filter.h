#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Every rune of the text is tested for a separator, so the test is one load and one compare
// without a branch: the low six bits of the five separators differ, and this table, indexed by
// them, holds each separator at its place and, elsewhere, a value whose low bits differ from
// its index, which therefore no rune can equal.
inline constexpr std::array<Rune, 64> kSeparatorByLowBits = [] {
  std::array<Rune, 64> table{};
  table[0] = 1;
  for (const Rune separator : {0x09u, 0x0Au, 0x20u, 0x3002u, 0xFF0Cu}) {
    table[separator & 63] = separator;
  }
  return table;
}();

// Runes that always stand alone and are never part of a word: space, tab, line feed, the
// full-width comma and the ideographic full stop. CR and other punctuation are ordinary runes.
constexpr bool IsSeparator(Rune rune) {
  return kSeparatorByLowBits[rune & 63] == rune;
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

// ForEachRange for runes[0..count) whose separators are known: `separators` lists their
// indexes, ascending. Lets the caller find them in a pass over the runes it makes anyway.
template <typename OnRange, typename OnSeparator>
void ForEachRangeBetween(const std::uint32_t* separators, std::size_t separator_count,
                         std::size_t count, OnRange on_range, OnSeparator on_separator) {
  std::size_t begin = 0;
  for (std::size_t k = 0; k < separator_count; ++k) {
    const std::size_t i = separators[k];
    if (begin < i) on_range(begin, i);
    on_separator(i);
    begin = i + 1;
  }
  if (begin < count) on_range(begin, count);
}

}  // namespace orvel::tokenizer::jieba
