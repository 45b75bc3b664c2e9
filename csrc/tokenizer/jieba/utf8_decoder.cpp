#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

bool AppendRunes(std::string_view text, std::vector<Rune>& runes) {
  const std::size_t old_size = runes.size();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t pos = 0;
  while (pos < text.size()) {
    Rune value;
    const std::size_t length = DecodeRune(p + pos, text.size() - pos, value);
    if (length == 0) {
      runes.resize(old_size);
      return false;
    }
    runes.push_back(value);
    pos += length;
  }
  return true;
}

namespace {

constexpr std::size_t kLastRuneStart = 0xFFFFFFFFu;

}  // namespace

std::size_t CountRunes(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    Rune value;
    const std::size_t length = DecodeRune(p + pos, text.size() - pos, value);
    if (length == 0 || pos > kLastRuneStart) return kUndecodable;
    ++count;
    pos += length;
  }
  return count;
}

std::size_t DecodeRunes(std::string_view text, Rune* runes, std::size_t* offsets) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t count = 0;
  std::size_t pos = 0;
  // While four bytes remain, every sequence is complete, and in text of up to 4 GiB every rune
  // starts at a valid offset: the common case needs neither check. Chinese text is mostly
  // three-byte sequences, tested first.
  if (size - 1 <= kLastRuneStart) {
    while (pos + 4 <= size) {
      const unsigned b0 = p[pos];
      offsets[count] = pos;
      if (b0 >= 0xE0 && b0 <= 0xEF) {
        runes[count++] = (b0 & 0x0Fu) << 12 | (p[pos + 1] & 0x3Fu) << 6 | (p[pos + 2] & 0x3Fu);
        pos += 3;
      } else if (b0 < 0x80) {
        runes[count++] = b0;
        pos += 1;
      } else {
        const std::size_t length = DecodeRune(p + pos, 4, runes[count]);
        if (length == 0) return kUndecodable;
        ++count;
        pos += length;
      }
    }
  }
  while (pos < size) {
    const std::size_t length = DecodeRune(p + pos, size - pos, runes[count]);
    if (length == 0 || pos > kLastRuneStart) return kUndecodable;
    offsets[count++] = pos;
    pos += length;
  }
  offsets[count] = size;
  return count;
}

}  // namespace orvel::tokenizer::jieba
