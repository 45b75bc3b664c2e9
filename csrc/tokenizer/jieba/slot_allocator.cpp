#include "tokenizer/jieba/slot_allocator.h"

#include <algorithm>

namespace orvel::tokenizer::jieba {

void SlotAllocator::Take(std::uint32_t slot) {
  Reserve(slot / 64 + 1);
  free_[slot / 64] &= ~(std::uint64_t{1} << (slot % 64));
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
  for (std::uint32_t base = from; base < to; base += 64) {
    Reserve((std::size_t{base} + sorted_codes.back()) / 64 + 2);
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

void SlotAllocator::Reserve(std::size_t words) {
  if (words > free_.size()) free_.resize(std::max(words, free_.size() * 2), ~std::uint64_t{0});
}

}  // namespace orvel::tokenizer::jieba
