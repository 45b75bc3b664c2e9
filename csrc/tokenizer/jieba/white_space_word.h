#pragma once

#include <string_view>

namespace orvel::tokenizer::jieba {

// True when `word` is not empty and every code point of its UTF-8 text is white space in
// Python's sense (str.isspace): the ASCII tab to carriage return and 0x1C-0x20, U+0085, U+00A0,
// U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F and U+3000. Such a word carries no
// meaning in a search index, and segmentation keeps every space as a word of its own.
bool IsWhiteSpaceWord(std::string_view word);

}  // namespace orvel::tokenizer::jieba
