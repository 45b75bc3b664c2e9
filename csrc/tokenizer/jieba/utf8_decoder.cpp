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
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = DecodeRune(p + pos, text.size() - pos, runes[count]);
    if (length == 0 || pos > kLastRuneStart) return kUndecodable;
    offsets[count++] = pos;
    pos += length;
  }
  offsets[count] = text.size();
  return count;
}

}  // namespace orvel::tokenizer::jieba
