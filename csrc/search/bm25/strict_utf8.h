#pragma once

#include <string_view>

namespace orvel::typing::text {

// Whether `text` is UTF-8 as CPython's decoder accepts it: no overlong forms, no surrogates,
// nothing past U+10FFFF, no truncated sequence. Texts given as bytes are checked with it before
// their words become tokens.
bool IsStrictUtf8(std::string_view text);

}  // namespace orvel::typing::text
