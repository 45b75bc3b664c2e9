#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/prefetch.h"

namespace orvel::typing::text {

// Occurrence counts of words viewed in place (the counter never copies their bytes, so the
// texts must outlive it), for one thread of a batch. Counting must cost little beside
// cutting, so this is a flat open-addressing table with a cheap hash for short words; the
// model's own table, which owns its keys, is updated once per distinct word afterwards.
class alignas(64) WordCounter {
 public:
  WordCounter() : slots_(kInitialSlots) {}
  // A table that holds `expected_words` distinct words without growing. Growing a table of
  // many megabytes rehashes every word into fresh pages, so a caller that can estimate the
  // count sizes the table once instead.
  explicit WordCounter(std::size_t expected_words) : slots_(SlotsFor(expected_words)) {}

  void Add(std::string_view word) { Add(word, KeyOf(word)); }

  // Adds words[0..count) in order, as Add would. A corpus's table outgrows the core's cache,
  // so nearly every Add waits for a slot from memory; hashing a run of words first and asking
  // for all their slots lets those waits overlap.
  void AddAll(const std::string_view* words, std::size_t count) {
    constexpr std::size_t kRun = 32;
    Key keys[kRun];
    for (std::size_t begin = 0; begin < count; begin += kRun) {
      const std::size_t end = std::min(count, begin + kRun);
      const std::size_t mask = slots_.size() - 1;
      for (std::size_t i = begin; i < end; ++i) {
        keys[i - begin] = KeyOf(words[i]);
        tokenizer::jieba::PrefetchLine(&slots_[keys[i - begin].hash & mask]);
      }
      for (std::size_t i = begin; i < end; ++i) Add(words[i], keys[i - begin]);
    }
  }

  // Visits every (word, count) once, in no particular order.
  template <typename Visitor>
  void ForEach(Visitor&& visit) const {
    for (const Slot& slot : slots_) {
      if (slot.count != 0) visit(std::string_view(slot.data, slot.size), slot.count);
    }
  }

  std::size_t size() const { return used_; }

 private:
  static constexpr std::size_t kInitialSlots = 1 << 12;

  // The smallest power of two of at least kInitialSlots in which `words` stay below the load
  // limit that Add grows at.
  static std::size_t SlotsFor(std::size_t words) {
    std::size_t slots = kInitialSlots;
    while (words * 4 > slots * 3) slots *= 2;
    return slots;
  }

  // A word of up to 16 bytes is wholly held by `a` and `b` (two loads that together cover
  // every byte), so comparing them and the size compares the words without touching the text.
  struct Slot {
    const char* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t count = 0;  // 0: empty
    std::uint64_t a = 0;
    std::uint64_t b = 0;
  };

  struct Key {
    std::uint64_t a;
    std::uint64_t b;
    std::uint64_t hash;
  };

  void Add(std::string_view word, const Key& key) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = key.hash & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.count == 0) {
        slot = {word.data(), static_cast<std::uint32_t>(word.size()), 1, key.a, key.b};
        if (++used_ * 4 > slots_.size() * 3) Grow();
        return;
      }
      if (slot.size == word.size() && slot.a == key.a && slot.b == key.b &&
          (word.size() <= 16 || std::memcmp(slot.data, word.data(), word.size()) == 0)) {
        ++slot.count;
        return;
      }
    }
  }

  static constexpr std::uint64_t kA = 0xa0761d6478bd642full, kB = 0xe7037ed1a0b428dbull;

  static std::uint64_t Mix(std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
  }

  // A multiply-mix hash in the style of wyhash: one or two loads cover the usual word of 1-16
  // bytes (a Chinese word of up to five characters); longer words fold 16 bytes per step.
  static Key KeyOf(std::string_view word) {
    const auto* p = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t n = word.size();
    std::uint64_t a = 0, b = 0, seed = kA ^ n;
    if (n >= 8) {
      std::size_t i = 0;
      for (; i + 16 < n; i += 16) {
        std::uint64_t x, y;
        std::memcpy(&x, p + i, 8);
        std::memcpy(&y, p + i + 8, 8);
        seed = Mix(x ^ kA, y ^ seed);
      }
      std::memcpy(&a, p + i, 8);
      std::memcpy(&b, p + n - 8, 8);
    } else if (n >= 4) {
      std::uint32_t x, y;
      std::memcpy(&x, p, 4);
      std::memcpy(&y, p + n - 4, 4);
      a = x;
      b = y;
    } else if (n > 0) {
      a = static_cast<std::uint64_t>(p[0]) << 16 | static_cast<std::uint64_t>(p[n / 2]) << 8 |
          p[n - 1];
    }
    return {a, b, Mix(a ^ kB, b ^ seed)};
  }

  // KeyOf(word).hash from the slot alone when the word has at most 16 bytes (no middle bytes
  // were folded into the seed), so that growing does not read the words again: they lie all
  // over the batch's texts, long out of cache.
  static std::uint64_t HashOf(const Slot& slot) {
    if (slot.size > 16) return KeyOf(std::string_view(slot.data, slot.size)).hash;
    return Mix(slot.a ^ kB, slot.b ^ (kA ^ slot.size));
  }

  void Grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.count == 0) continue;
      std::size_t i = HashOf(slot) & mask;
      while (slots_[i].count != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

}  // namespace orvel::typing::text
