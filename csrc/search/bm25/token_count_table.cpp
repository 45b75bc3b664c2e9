#include "search/bm25/token_count_table.h"

#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>

namespace orvel::typing::text {
namespace {

constexpr std::size_t kInitialSlots = 16;
constexpr uint64_t kEntryMask = 0xFFFFFFFFull;

uint32_t tag_of(uint64_t hash) {
  return static_cast<uint32_t>(hash >> 32);
}

}  // namespace

uint64_t TokenCountTable::hash(std::string_view key) {
  return std::hash<std::string_view>{}(key);
}

std::string_view TokenCountTable::key_at(uint64_t offset) const {
  // Length prefix is a little-endian base-128 varint: one byte for keys under 128 bytes.
  uint64_t length = 0;
  int shift = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(keys_.data()) + offset;
  while (*p & 0x80) {
    length |= static_cast<uint64_t>(*p++ & 0x7F) << shift;
    shift += 7;
  }
  length |= static_cast<uint64_t>(*p++) << shift;
  return {reinterpret_cast<const char*>(p), static_cast<std::size_t>(length)};
}

std::size_t TokenCountTable::probe(std::string_view key, uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const uint32_t tag = tag_of(hash);
  for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
    const uint64_t slot = slots_[i];
    if (slot == 0) return i;
    if (static_cast<uint32_t>(slot >> 32) == tag &&
        key_at(entries_[(slot & kEntryMask) - 1].key_offset) == key) {
      return i;
    }
  }
}

const int64_t* TokenCountTable::find(std::string_view key) const {
  if (slots_.empty()) return nullptr;
  const uint64_t slot = slots_[probe(key, hash(key))];
  return slot == 0 ? nullptr : &entries_[(slot & kEntryMask) - 1].count;
}

int64_t& TokenCountTable::find_or_insert(std::string_view key) {
  // Keep the load factor at or below one half so that probe sequences stay short.
  if (2 * (entries_.size() + 1) > slots_.size()) grow();
  const uint64_t h = hash(key);
  const std::size_t i = probe(key, h);
  if (slots_[i] != 0) return entries_[(slots_[i] & kEntryMask) - 1].count;

  if (entries_.size() >= kEntryMask) throw std::length_error("too many distinct tokens");
  const uint64_t offset = keys_.size();
  uint64_t length = key.size();
  while (length >= 0x80) {
    keys_.push_back(static_cast<char>((length & 0x7F) | 0x80));
    length >>= 7;
  }
  keys_.push_back(static_cast<char>(length));
  keys_.insert(keys_.end(), key.begin(), key.end());
  entries_.push_back(Entry{offset, 0});
  slots_[i] = (static_cast<uint64_t>(tag_of(h)) << 32) | entries_.size();
  return entries_.back().count;
}

void TokenCountTable::grow() {
  const std::size_t capacity = slots_.empty() ? kInitialSlots : slots_.size() * 2;
  std::vector<uint64_t> slots(capacity, 0);
  const std::size_t mask = capacity - 1;
  for (const uint64_t slot : slots_) {
    if (slot == 0) continue;
    // Positions come from the stored tag, so growing never rereads the keys.
    std::size_t i = (slot >> 32) & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = slot;
  }
  slots_.swap(slots);
}

}  // namespace orvel::typing::text
