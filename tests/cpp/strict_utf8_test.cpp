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
// byte, or a non-ASCII byte inside an eight-byte block, or that rejects a valid sequence. Every
// sequence of up to three bytes, after ASCII runs that leave it inside, across and after an
// eight-byte block, and followed by nothing or by ASCII.
TEST(StrictUtf8, AgreesWithTheRulesOnEverySequenceUpToThreeBytes) {
  const std::string befores[] = {"", "abcdefg", "abcdefgh", "abcdefghijkl"};
  const std::string afters[] = {"", "xyzxyzxyz"};
  // Every continuation byte, and the bytes around that range.
  std::vector<unsigned> follows = {0x00, 0x41, 0x7F, 0xC0, 0xFF};
  for (unsigned byte = 0x80; byte < 0xC0; ++byte) follows.push_back(byte);
  int checked = 0;
  for (unsigned a = 0x80; a < 0x100; ++a) {
    for (const unsigned b : follows) {
      for (const unsigned c : follows) {
        const std::string sequence = {static_cast<char>(a), static_cast<char>(b),
                                      static_cast<char>(c)};
        for (const std::string& before : befores) {
          for (const std::string& after : afters) {
            for (std::size_t length = 1; length <= 3; ++length) {
              const std::string text = before + sequence.substr(0, length) + after;
              ASSERT_EQ(IsStrictUtf8(text), ByTheRules(text)) << a << " " << b << " " << c;
              ++checked;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 1000000);
}

// Fault: four-byte sequences (past U+FFFF) judged by the three-byte fast path's rules.
TEST(StrictUtf8, AgreesWithTheRulesOnFourByteSequences) {
  for (unsigned a = 0xF0; a < 0xF8; ++a) {
    for (unsigned b = 0x7F; b <= 0xC0; ++b) {
      for (const unsigned c : {0x41u, 0x80u, 0xBFu}) {
        const std::string text = {'a', static_cast<char>(a), static_cast<char>(b),
                                  static_cast<char>(c), static_cast<char>(0x80)};
        EXPECT_EQ(IsStrictUtf8(text), ByTheRules(text)) << a << " " << b << " " << c;
      }
    }
  }
}

}  // namespace
}  // namespace orvel::typing::text
