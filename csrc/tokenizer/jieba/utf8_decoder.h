#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orvel::tokenizer::jieba {

// A decoded code point. Values up to 0x1FFFFF occur because the decoder is lenient.
using Rune = std::uint32_t;

// Decodes the code point at `p` (with `remaining` >= 1 bytes available) and returns the number
// of bytes it consumed, or 0 when the bytes cannot be decoded. Deliberately lenient to match the
// reference segmenter: continuation bytes are never checked, so overlong forms, surrogates and
// stray continuation bytes (which act as 2-byte leads) all decode; only lead bytes 0xF8-0xFF and
// sequences cut short by the end of the input fail.
inline std::size_t DecodeRune(const unsigned char* p, std::size_t remaining, Rune& value) {
  const unsigned b0 = p[0];
  if (b0 < 0x80) {
    value = b0;
    return 1;
  }
  if (b0 <= 0xDF && remaining >= 2) {
    value = (b0 & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    return 2;
  }
  if (b0 <= 0xEF && remaining >= 3) {
    value = (b0 & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    return 3;
  }
  if (b0 <= 0xF7 && remaining >= 4) {
    value = (b0 & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
    return 4;
  }
  return 0;
}

// Appends the runes of `text` to `runes`. On failure returns false and leaves `runes` as it was:
// one undecodable byte sequence rejects the whole string.
bool AppendRunes(std::string_view text, std::vector<Rune>& runes);

// Returned for text that cannot be decoded.
inline constexpr std::size_t kUndecodable = static_cast<std::size_t>(-1);

// Number of runes in `text`, or kUndecodable when a byte sequence fails or, like the reference,
// when a rune would start beyond byte offset 0xFFFFFFFF. Lets callers size buffers exactly.
std::size_t CountRunes(std::string_view text);

// Decodes `text` into arrays with room for all its runes (text.size() entries always suffice,
// plus one more offset): runes[i] is the value of rune i and offsets[i] its first byte, and
// offsets[count] = text.size(), so rune i spans [offsets[i], offsets[i + 1]). Returns the rune
// count, or kUndecodable under the same conditions as CountRunes.
std::size_t DecodeRunes(std::string_view text, Rune* runes, std::size_t* offsets);

}  // namespace orvel::tokenizer::jieba
