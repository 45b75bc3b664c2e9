#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvel::typing::text::pybind {

// Decodes one code point at p[i] under strict UTF-8 rules (no overlong forms, no surrogates,
// nothing above U+10FFFF), as CPython's decoder accepts them. Returns its length in bytes, or 0
// when the bytes are not valid.
std::size_t DecodeUtf8Strict(const unsigned char* p, std::size_t i, std::size_t n,
                             std::uint32_t& cp);

// A new str of UTF-8 `bytes`, as bytes.decode("utf-8") gives it (its UnicodeDecodeError
// included, with null returned), but sized before it is filled: CPython's decoder grows its
// result as it goes, which costs more than the decoding for short CJK words.
PyObject* Utf8ToStr(std::string_view bytes);

}  // namespace orvel::typing::text::pybind
