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

bool DecodeSentence(std::string_view text, std::vector<Rune>& runes,
                    std::vector<std::size_t>& offsets) {
  // A rune takes at least one byte, so text.size() bounds the count; sizing once keeps the loop
  // free of reallocation checks.
  runes.resize(text.size());
  offsets.resize(text.size() + 1);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  constexpr std::size_t kLastRuneStart = 0xFFFFFFFFu;
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    Rune value;
    const std::size_t length = DecodeRune(p + pos, text.size() - pos, value);
    if (length == 0 || pos > kLastRuneStart) {
      runes.clear();
      offsets.clear();
      return false;
    }
    runes[count] = value;
    offsets[count] = pos;
    ++count;
    pos += length;
  }
  runes.resize(count);
  offsets[count] = text.size();
  offsets.resize(count + 1);
  return true;
}

}  // namespace orvel::tokenizer::jieba
