// The strict UTF-8 check that bytes texts pass before their words become tokens.

#include "search/bm25/strict_utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvel::typing::text {
namespace {

// The rules one sequence at a time, as CPython's decoder applies them.
bool ByTheRules(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t size = p[i] < 0x80   ? 1
                             : p[i] < 0xC0 ? 0
                             : p[i] < 0xE0 ? 2
                             : p[i] < 0xF0 ? 3
                             : p[i] < 0xF8 ? 4
                                           : 0;
    if (size == 0 || i + size > text.size()) return false;
    std::uint32_t value = size == 1 ? p[i] : p[i] & (0x7F >> size);
    for (std::size_t k = 1; k < size; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      value = value << 6 | (p[i + k] & 0x3F);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[size] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += size;
  }
  return true;
}

// Fault: a fast path (ASCII blocks, common three-byte sequences) that accepts a surrogate, an
// overlong form, a bad or missing continuation byte or a non-ASCII byte inside an eight-byte
// block, or rejects a valid sequence. Every lead byte with every continuation and the bytes
// around that range, cut to each length, inside, across and after an eight-byte ASCII block, at the
// text's end and before more.
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
