#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Immutable map from rune to a non-zero 32-bit id; 0 means absent. Text is almost entirely in
// the Basic Multilingual Plane, which gets a flat table for one-load lookups; rarer runes above
// it are binary-searched.
class RuneMap {
 public:
  RuneMap() = default;

  // `entries` may be in any order; a later entry for the same rune wins. Ids must be non-zero.
  explicit RuneMap(std::vector<std::pair<Rune, std::uint32_t>> entries);

  std::uint32_t Find(Rune rune) const {
    if (rune < kFlatSize) return flat_.empty() ? 0 : flat_[rune];
    const auto it = std::lower_bound(high_.begin(), high_.end(), std::make_pair(rune, 0u));
    return it != high_.end() && it->first == rune ? it->second : 0;
  }

  // The table Find reads for runes below kFlatSize, or null when no such rune has an id: a
  // loop over many runes keeps it in a register, where Find reloads it for every rune.
  const std::uint32_t* flat_table() const { return flat_.empty() ? nullptr : flat_.data(); }
  static constexpr Rune kFlatSize = 0x10000;

 private:
  std::vector<std::uint32_t> flat_;
  std::vector<std::pair<Rune, std::uint32_t>> high_;  // sorted by rune
};

}  // namespace orvel::tokenizer::jieba
