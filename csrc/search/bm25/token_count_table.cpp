#include "search/bm25/token_count_table.h"

#include <functional>
#include <stdexcept>

namespace orvel::typing::text {
namespace {

constexpr std::size_t kInitialSlots = 16;
constexpr int kTagShift = 40;
constexpr uint64_t kOffsetMask = (uint64_t{1} << kTagShift) - 1;

uint64_t tag_of(uint64_t hash) {
  return hash >> kTagShift;
}

// Bytes of a record's key part: the varint length prefix, then the key.
const unsigned char* key_part(const uint64_t* record) {
  return reinterpret_cast<const unsigned char*>(record + 1);
}

}  // namespace

uint64_t TokenCountTable::hash(std::string_view key) {
  return std::hash<std::string_view>{}(key);
}

std::string_view TokenCountTable::key_at(std::size_t offset) const {
  const unsigned char* p = key_part(&records_[offset]);
  uint64_t length = 0;
  int shift = 0;
  while (*p & 0x80) {
    length |= static_cast<uint64_t>(*p++ & 0x7F) << shift;
    shift += 7;
  }
  length |= static_cast<uint64_t>(*p++) << shift;
  return {reinterpret_cast<const char*>(p), static_cast<std::size_t>(length)};
}

std::size_t TokenCountTable::next_record(std::size_t offset) const {
  const std::string_view key = key_at(offset);
  const auto* key_end = reinterpret_cast<const unsigned char*>(key.data() + key.size());
  const std::size_t bytes = static_cast<std::size_t>(key_end - key_part(&records_[offset]));
  return offset + 1 + (bytes + sizeof(Word) - 1) / sizeof(Word);
}

std::size_t TokenCountTable::probe(std::string_view key, uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const uint64_t tag = tag_of(hash);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint64_t slot = slots_[i];
    if (slot == 0) return i;
    if ((slot >> kTagShift) == tag && key_at((slot & kOffsetMask) - 1) == key) return i;
  }
}

const int64_t* TokenCountTable::find(std::string_view key) const {
  if (slots_.empty()) return nullptr;
  const uint64_t slot = slots_[probe(key, hash(key))];
  return slot == 0 ? nullptr : count_at((slot & kOffsetMask) - 1);
}

void TokenCountTable::prefetch_record(uint64_t key_hash) const {
  if (slots_.empty()) return;
  const uint64_t slot = slots_[key_hash & (slots_.size() - 1)];
  if (slot != 0 && (slot >> kTagShift) == tag_of(key_hash)) {
    tokenizer::jieba::PrefetchLine(&records_[(slot & kOffsetMask) - 1]);
  }
}

int64_t& TokenCountTable::find_or_insert(std::string_view key, uint64_t h) {
  // Keep the load factor at or below one half so that probe sequences stay short.
  if (2 * (size_ + 1) > slots_.size()) grow();
  const std::size_t i = probe(key, h);
  if (slots_[i] != 0) return *count_at((slots_[i] & kOffsetMask) - 1);

  unsigned char prefix[10];
  std::size_t prefix_length = 0;
  for (uint64_t length = key.size();; length >>= 7) {
    if (length < 0x80) {
      prefix[prefix_length++] = static_cast<unsigned char>(length);
      break;
    }
    prefix[prefix_length++] = static_cast<unsigned char>((length & 0x7F) | 0x80);
  }
  const std::size_t offset = records_.size();
  const std::size_t key_words = (prefix_length + key.size() + sizeof(Word) - 1) / sizeof(Word);
  if (offset + 1 + key_words >= kOffsetMask) throw std::length_error("token table is full");
  // The usual short record is put together in place and appended in one copy; resizing the
  // arena word by word would cost more than the rest of an insertion.
  constexpr std::size_t kShortRecordWords = 8;
  if (1 + key_words <= kShortRecordWords) {
    Word record[kShortRecordWords] = {};
    auto* bytes = reinterpret_cast<unsigned char*>(&record[1]);
    std::memcpy(bytes, prefix, prefix_length);
    if (!key.empty()) std::memcpy(bytes + prefix_length, key.data(), key.size());
    records_.insert(records_.end(), record, record + 1 + key_words);
  } else {
    records_.resize(offset + 1 + key_words, 0);
    auto* bytes = reinterpret_cast<unsigned char*>(&records_[offset + 1]);
    std::memcpy(bytes, prefix, prefix_length);
    std::memcpy(bytes + prefix_length, key.data(), key.size());
  }
  ++size_;
  slots_[i] = (tag_of(h) << kTagShift) | (offset + 1);
  return *count_at(offset);
}

void TokenCountTable::reserve(std::size_t count, std::size_t key_bytes) {
  // A record is its count's word, then the length prefix and key rounded up to whole words.
  records_.reserve(records_.size() + 3 * count + key_bytes / sizeof(Word));
  std::size_t capacity = slots_.empty() ? kInitialSlots : slots_.size();
  while (capacity < 2 * count) capacity *= 2;
  if (capacity > slots_.size()) rehash(capacity);
}

void TokenCountTable::grow() {
  rehash(slots_.empty() ? kInitialSlots : slots_.size() * 2);
}

void TokenCountTable::rehash(std::size_t capacity) {
  std::vector<uint64_t> slots(capacity, 0);
  const std::size_t mask = capacity - 1;
  // The slots keep only part of each hash, so the keys are hashed again, in arena order.
  for (std::size_t offset = 0; offset < records_.size(); offset = next_record(offset)) {
    const uint64_t h = hash(key_at(offset));
    std::size_t i = h & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = (tag_of(h) << kTagShift) | (offset + 1);
  }
  slots_.swap(slots);
}

}  // namespace orvel::typing::text
