#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// A set of runes asked about once per rune of a sentence, so membership must cost next to
// nothing: runes of the Basic Multilingual Plane (nearly all text) answer from an inline bitset,
// the rare others from a sorted list. A copy is one 8 KB block copy (and the rare others).
class RuneSet {
 public:
  void Insert(Rune rune) {
    if (rune < kBitsetRunes) {
      bits_[rune / 64] |= std::uint64_t{1} << (rune % 64);
      return;
    }
    const auto it = std::lower_bound(others_.begin(), others_.end(), rune);
    if (it == others_.end() || *it != rune) others_.insert(it, rune);
  }

  bool Contains(Rune rune) const {
    if (rune < kBitsetRunes) return (bits_[rune / 64] >> (rune % 64)) & 1;
    return !others_.empty() && std::binary_search(others_.begin(), others_.end(), rune);
  }

  // Contains, except that every rune above the bitset answers true when the set holds any
  // such rune: no branch, for a loop that asks it of every rune of a text and checks the
  // few positive answers with Contains.
  bool MayContain(Rune rune) const {
    const bool bit = (bits_[(rune / 64) % bits_.size()] >> (rune % 64)) & 1;
    return rune < kBitsetRunes ? bit : !others_.empty();
  }

  // Whether any of runes[0..count) is in the set.
  bool ContainsAny(const Rune* runes, std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
      if (Contains(runes[i])) return true;
    }
    return false;
  }

 private:
  static constexpr Rune kBitsetRunes = 0x10000;
  std::array<std::uint64_t, kBitsetRunes / 64> bits_{};
  std::vector<Rune> others_;  // sorted, unique
};

}  // namespace orvel::tokenizer::jieba
