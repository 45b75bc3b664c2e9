#include "pybind/object_cache.h"

#include <cstring>

#include "pybind/utf8_str.h"

namespace orvel::typing::text::pybind {

// FNV-1a over 8-byte blocks: words are a few bytes, so a short, branch-light hash wins over a
// stronger one; the table compares the bytes anyway.
std::uint64_t WordHash(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  std::uint64_t hash = 0xcbf29ce484222325ull ^ n;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t block;
    std::memcpy(&block, p, 8);
    hash = (hash ^ block) * 0x100000001b3ull;
    hash ^= hash >> 29;
  }
  for (; n > 0; ++p, --n) hash = (hash ^ *p) * 0x100000001b3ull;
  return hash ^ (hash >> 32);
}

WordStrCache::~WordStrCache() {
  for (const Slot& slot : slots_) Py_XDECREF(slot.str);
}

void WordStrCache::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 4096 : old.size() * 2, Slot{0, 0, 0, nullptr});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (!slot.str) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].str) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

PyObject* WordStrCache::Get(std::string_view bytes, std::uint64_t hash) {
  const auto decode = [bytes] { return Utf8ToStr(bytes); };
  if (bytes.size() > kMaxWordBytes) return decode();
  if (slots_.empty()) Grow();
  std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  for (; slots_[i].str; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.hash == hash && slot.key_length == bytes.size() &&
        std::memcmp(keys_.data() + slot.key_offset, bytes.data(), bytes.size()) == 0) {
      Py_INCREF(slot.str);
      return slot.str;
    }
  }
  PyObject* str = decode();
  if (!str || entries_ >= kMaxEntries) return str;
  if (2 * (entries_ + 1) > slots_.size()) {
    Grow();
    mask = slots_.size() - 1;
    for (i = hash & mask; slots_[i].str;) i = (i + 1) & mask;
  }
  slots_[i] = {hash, static_cast<std::uint32_t>(keys_.size()),
               static_cast<std::uint32_t>(bytes.size()), str};
  keys_.append(bytes);
  ++entries_;
  Py_INCREF(str);  // the table's own reference
  return str;
}

IdIntCache::~IdIntCache() {
  for (const Slot& slot : slots_) Py_XDECREF(slot.value);
}

void IdIntCache::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 4096 : old.size() * 2, Slot{0, nullptr});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (!slot.value) continue;
    std::size_t i = slot.id & mask;
    while (slots_[i].value) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

PyObject* IdIntCache::Get(std::uint32_t id) {
  if (slots_.empty()) Grow();
  // The ids are MurmurHash3 values already: their low bits spread well.
  std::size_t mask = slots_.size() - 1;
  std::size_t i = id & mask;
  for (; slots_[i].value; i = (i + 1) & mask) {
    if (slots_[i].id == id) {
      Py_INCREF(slots_[i].value);
      return slots_[i].value;
    }
  }
  PyObject* value = PyLong_FromUnsignedLong(id);
  if (!value || entries_ >= kMaxEntries) return value;
  if (2 * (entries_ + 1) > slots_.size()) {
    Grow();
    mask = slots_.size() - 1;
    for (i = id & mask; slots_[i].value;) i = (i + 1) & mask;
  }
  slots_[i] = {id, value};
  ++entries_;
  Py_INCREF(value);  // the table's own reference
  return value;
}

}  // namespace orvel::typing::text::pybind
