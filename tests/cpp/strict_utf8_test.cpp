// The strict UTF-8 check that texts given as bytes pass before their words become tokens: its
// fast paths (ASCII blocks, common three-byte sequences) must accept exactly what the rules
// accept.

#include "search/bm25/strict_utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvel::typing::text {
namespace {

// The rules, one sequence at a time, as CPython's decoder applies them.
bool ByTheRules(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned c = p[i];
    std::size_t size = 0;
    std::uint32_t least = 0;
    if (c < 0x80) {
      size = 1;
    } else if (c >= 0xC0 && c <= 0xDF) {
      size = 2;
      least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      size = 3;
      least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF7) {
      size = 4;
      least = 0x10000;
    } else {
      return false;
    }
    if (i + size > n) return false;
    std::uint32_t value = size == 1 ? c : c & (0x7F >> size);
    for (std::size_t k = 1; k < size; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      value = value << 6 | (p[i + k] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    i += size;
  }
  return true;
}

// Fault: a fast path that accepts a surrogate, an overlong form, a bad or missing continuation
// byte or a non-ASCII byte inside an eight-byte block, or rejects a valid sequence. Every lead byte
// with every continuation and the bytes around that range, cut to each length, inside, across and
// after an eight-byte ASCII block, at the text's end and before more.
TEST(StrictUtf8, AgreesWithTheRules) {
  std::vector<unsigned> follows = {0x00, 0x41, 0x7F, 0xC0, 0xFF};
  for (unsigned byte = 0x80; byte < 0xC0; ++byte) follows.push_back(byte);
  for (const std::string before : {"", "abcdefg", "abcdefgh", "abcdefghijkl"}) {
    for (unsigned a = 0x80; a < 0x100; ++a) {
      for (const unsigned b : follows) {
        for (const unsigned c : follows) {
          const std::string sequence = {static_cast<char>(a), static_cast<char>(b),
                                        static_cast<char>(c), static_cast<char>(0x80)};
          for (std::size_t length = 1; length <= 4; ++length) {
            for (const std::string after : {"", "xyz"}) {
              const std::string text = before + sequence.substr(0, length) + after;
              ASSERT_EQ(IsStrictUtf8(text), ByTheRules(text)) << a << " " << b << " " << c;
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace orvel::typing::text
