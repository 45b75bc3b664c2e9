#pragma once

#include <cstddef>

namespace orvel::tokenizer::jieba {

// A word as the half-open interval [begin, end) of positions in the sentence: rune indexes
// inside the engine, byte offsets once handed out.
struct WordSpan {
  std::size_t begin;
  std::size_t end;
};

}  // namespace orvel::tokenizer::jieba
