#include "pybind/object_cache.h"

#include <cstring>

#include "pybind/utf8_str.h"

namespace orvel::typing::text::pybind {

namespace {

// Words of up to this many bytes (one or two Chinese characters: most of a text's words) hash
// injectively for their length, so the cache compares them by hash and length alone, without
// reading the bytes of the word it holds, which would be one more cache miss per lookup in a
// large batch.
constexpr std::size_t kExactHashBytes = 7;

}  // namespace

// Short words: bytes and length packed into 64 bits, then mixed by a bijection (multiplying by
// an odd number and xor-shifting are both invertible), so equal hashes and lengths mean equal
// words. Longer words: FNV-1a over 8-byte blocks; words are a few bytes, so a short,
// branch-light hash wins over a stronger one, and the table compares their bytes anyway.
std::uint64_t WordHash(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  if (n <= kExactHashBytes) {
    std::uint64_t packed = 0;
    if (n >= 4) {
      // Two loads that overlap for n < 8; the overlapping bytes are equal in both.
      std::uint32_t low, high;
      std::memcpy(&low, p, 4);
      std::memcpy(&high, p + n - 4, 4);
      packed = low | std::uint64_t{high} << (8 * (n - 4));
    } else if (n > 0) {
      // Every byte is in, in its place for n = 3; for shorter words n settles the rest.
      packed = p[0] | std::uint64_t{p[n / 2]} << 8 | std::uint64_t{p[n - 1]} << 16;
    }
    packed |= std::uint64_t{n} << 56;
    packed *= 0x9E3779B97F4A7C15ull;
    packed ^= packed >> 32;
    packed *= 0xD6E8FEB86659FD93ull;
    return packed ^ (packed >> 32);
  }
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

SharedObjectTable::~SharedObjectTable() {
  for (const Slot& slot : slots_) Py_XDECREF(slot.object);
}

void SharedObjectTable::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 4096 : old.size() * 2, Slot{0, 0, 0, nullptr});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (!slot.object) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].object) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

bool SharedObjectTable::Add(std::uint64_t hash, std::uint32_t first, std::uint32_t second,
                            PyObject* object) {
  if (entries_ >= kMaxEntries) return false;
  if (2 * (entries_ + 1) > slots_.size()) Grow();
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].object) i = (i + 1) & mask;
  slots_[i] = {hash, first, second, object};
  ++entries_;
  Py_INCREF(object);  // the table's own reference
  return true;
}

PyObject* WordStrCache::Get(std::string_view bytes, std::uint64_t hash) {
  if (bytes.size() > kMaxWordBytes) return Utf8ToStr(bytes);
  PyObject* str = strs_.Find(hash, [&](std::uint32_t offset, std::uint32_t length) {
    return length == bytes.size() &&
           (length <= kExactHashBytes ||
            std::memcmp(keys_.data() + offset, bytes.data(), length) == 0);
  });
  if (str) return str;
  str = Utf8ToStr(bytes);
  if (str && strs_.Add(hash, static_cast<std::uint32_t>(keys_.size()),
                       static_cast<std::uint32_t>(bytes.size()), str)) {
    keys_.append(bytes);
  }
  return str;
}

IdIntCache::~IdIntCache() {
  for (const Slot& slot : slots_) Py_XDECREF(slot.object);
}

PyObject* IdIntCache::Get(std::uint32_t id) {
  Slot& slot = slots_[id & (kSlots - 1)];
  if (slot.object && slot.id == id) {
    Py_INCREF(slot.object);
    return slot.object;
  }
  PyObject* value = PyLong_FromUnsignedLong(id);
  if (!value) return nullptr;
  Py_XDECREF(slot.object);
  Py_INCREF(value);  // the table's own reference
  slot = {id, value};
  return value;
}

}  // namespace orvel::typing::text::pybind
