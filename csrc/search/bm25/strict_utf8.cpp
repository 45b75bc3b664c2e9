#include "search/bm25/strict_utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvel::typing::text {

// Every text given as bytes is checked, so the two common cases go first: ASCII eight bytes at
// a time, and three-byte sequences whose lead byte allows any continuation (most of Chinese),
// which need only their continuation bits checked.
bool IsStrictUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      for (++i; i + 8 <= n; i += 8) {
        std::uint64_t block;
        std::memcpy(&block, p + i, 8);
        if (block & 0x8080808080808080u) break;
      }
      continue;
    }
    if (static_cast<unsigned char>(c - 0xE1) <= 0xEF - 0xE1 && c != 0xED && i + 3 <= n) {
      std::uint16_t continuation;  // both bytes' top bits at once, in either byte order
      std::memcpy(&continuation, p + i + 1, 2);
      if ((continuation & 0xC0C0) != 0x8080) return false;
      i += 3;
      continue;
    }
    std::size_t size = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      size = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      size = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      size = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + size > n || p[i + 1] < low || p[i + 1] > high) return false;
    for (std::size_t k = 2; k < size; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
    }
    i += size;
  }
  return true;
}

}  // namespace orvel::typing::text
