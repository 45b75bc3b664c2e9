#include "tokenizer/jieba/white_space_word.h"

#include <cstddef>

namespace orvel::tokenizer::jieba {
namespace {

// Bytes of the white-space code point starting at word[i], or 0 when it is not one.
std::size_t WhiteSpaceLength(std::string_view word, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(word[i + k]); };
  const std::size_t left = word.size() - i;
  const unsigned char lead = byte(0);
  if (lead < 0x80) return (lead >= 0x09 && lead <= 0x0D) || (lead >= 0x1C && lead <= 0x20);
  if (lead == 0xC2 && left >= 2) return (byte(1) == 0x85 || byte(1) == 0xA0) ? 2 : 0;
  if (left < 3) return 0;
  const unsigned code = (lead & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
  if ((lead & 0xF0) != 0xE0 || (byte(1) & 0xC0) != 0x80 || (byte(2) & 0xC0) != 0x80) return 0;
  const bool space = code == 0x1680 || (code >= 0x2000 && code <= 0x200A) || code == 0x2028 ||
                     code == 0x2029 || code == 0x202F || code == 0x205F || code == 0x3000;
  return space ? 3 : 0;
}

}  // namespace

bool IsWhiteSpaceWord(std::string_view word) {
  if (word.empty()) return false;
  for (std::size_t i = 0; i < word.size();) {
    const std::size_t length = WhiteSpaceLength(word, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace orvel::tokenizer::jieba
