#include "tokenizer/jieba/slot_allocator.h"

#include <algorithm>

namespace orvel::tokenizer::jieba {

void SlotAllocator::Take(std::uint32_t slot) {
  Reserve(slot / 64 + 1);
  const std::size_t word = slot / 64;
  free_[word] &= ~(std::uint64_t{1} << (slot % 64));
  if (free_[word] == 0) words_with_free_[word / 64] &= ~(std::uint64_t{1} << (word % 64));
  while (first_free_word_ < free_.size() && free_[first_free_word_] == 0) ++first_free_word_;
}

std::uint32_t SlotAllocator::FindBase(const std::vector<std::uint32_t>& sorted_codes,
                                      std::uint32_t hint, std::uint32_t budget) {
  const auto lowest_free = static_cast<std::uint32_t>(first_free_word_ * 64);
  const std::uint32_t start =
      lowest_free > sorted_codes.front() ? lowest_free - sorted_codes.front() : 0;
  if (hint <= start || budget == kUnlimited) {
    return Scan(sorted_codes, std::max(start, hint), kUnlimited);
  }
  const std::uint32_t early = Scan(sorted_codes, start, std::min(hint, start + budget));
  return early != kUnlimited ? early
                             : Scan(sorted_codes, std::max(hint, start + budget), kUnlimited);
}

std::uint32_t SlotAllocator::Scan(const std::vector<std::uint32_t>& sorted_codes,
                                  std::uint32_t from, std::uint32_t to) {
  const std::uint32_t first = sorted_codes.front();
  for (std::uint32_t base = from; base < to; base += 64) {
    Reserve((std::size_t{base} + sorted_codes.back()) / 64 + 2);
    if (FreeBitsFrom(base + first) == 0) {
      // No base of these 64 fits, nor of the following ones up to the next free slot for the
      // first code: they are skipped whole, so the bases tested are exactly those a plain
      // scan would test. Slots that no set's codes reach stay free below the dense part of
      // the array and hold the search's start there, so without the skip every set of a
      // large dictionary tested the whole dense part anew (single-child sets in particular).
      base += (NextFree(base + first) - (base + first)) / 64 * 64;
      if (base >= to) break;
      Reserve((std::size_t{base} + sorted_codes.back()) / 64 + 2);
    }
    // Bit i of `fits`: base + i works for every code so far.
    std::uint64_t fits = ~std::uint64_t{0};
    for (const std::uint32_t code : sorted_codes) {
      fits &= FreeBitsFrom(base + code);
      if (fits == 0) break;
    }
    if (fits != 0) return base + static_cast<std::uint32_t>(__builtin_ctzll(fits));
  }
  return kUnlimited;
}

std::uint32_t SlotAllocator::NextFree(std::uint32_t slot) const {
  std::size_t word = slot / 64;
  if (word >= free_.size()) return slot;
  const std::uint64_t here = free_[word] & (~std::uint64_t{0} << (slot % 64));
  if (here != 0) return static_cast<std::uint32_t>(word * 64 + __builtin_ctzll(here));
  ++word;
  for (std::size_t group = word / 64; group < words_with_free_.size(); ++group) {
    std::uint64_t bits = words_with_free_[group];
    if (group == word / 64) bits &= ~std::uint64_t{0} << (word % 64);
    if (bits != 0) {
      const std::size_t found = group * 64 + __builtin_ctzll(bits);
      if (found >= free_.size()) break;
      return static_cast<std::uint32_t>(found * 64 + __builtin_ctzll(free_[found]));
    }
  }
  return static_cast<std::uint32_t>(std::max(free_.size() * 64, std::size_t{slot}));
}

void SlotAllocator::Reserve(std::size_t words) {
  if (words <= free_.size()) return;
  const std::size_t old_size = free_.size();
  free_.resize(std::max(words, old_size * 2), ~std::uint64_t{0});
  words_with_free_.resize((free_.size() + 63) / 64, 0);
  for (std::size_t word = old_size; word < free_.size(); ++word) {
    words_with_free_[word / 64] |= std::uint64_t{1} << (word % 64);
  }
}

}  // namespace orvel::tokenizer::jieba
