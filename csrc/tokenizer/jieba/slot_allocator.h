#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvel::tokenizer::jieba {

// Finds room for the sibling sets of a double-array trie. Keeps a bitset of free slots
// (unbounded: everything past its end is free) and tests 64 candidate bases at a time. A
// second bitset marks the words of the first that hold a free slot, so that a search can jump
// over the dense, full part of the array instead of testing it 64 bases at a time.
class SlotAllocator {
 public:
  static constexpr std::uint32_t kUnlimited = 0xFFFFFFFFu;

  // Marks `slot` as used.
  void Take(std::uint32_t slot);

  // Whether `slot` is still free.
  bool IsFree(std::uint32_t slot) const {
    const std::size_t word = slot / 64;
    return word >= free_.size() || (free_[word] >> (slot % 64) & 1) != 0;
  }

  // A base at which every code of `sorted_codes` (ascending, non-empty) lands on a free slot.
  // With an unlimited `budget`, the lowest from `hint` on; otherwise the lowest among the first
  // `budget` bases above the lowest free slot, else the lowest from `hint` on.
  std::uint32_t FindBase(const std::vector<std::uint32_t>& sorted_codes, std::uint32_t hint,
                         std::uint32_t budget);

 private:
  // Lowest fitting base in [from, to), or kUnlimited when none.
  std::uint32_t Scan(const std::vector<std::uint32_t>& sorted_codes, std::uint32_t from,
                     std::uint32_t to);

  // Free flags of slots [slot, slot + 64) as bits 0..63; the words must be reserved.
  std::uint64_t FreeBitsFrom(std::uint32_t slot) const {
    const std::size_t word = slot / 64;
    const unsigned shift = slot % 64;
    const std::uint64_t low = free_[word] >> shift;
    return shift == 0 ? low : low | free_[word + 1] << (64 - shift);
  }

  // The lowest free slot at or after `slot`.
  std::uint32_t NextFree(std::uint32_t slot) const;

  void Reserve(std::size_t words);

  std::vector<std::uint64_t> free_;
  std::vector<std::uint64_t> words_with_free_;  // bit w: free_[w] != 0
  std::size_t first_free_word_ = 0;
};

}  // namespace orvel::tokenizer::jieba
