#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvel::typing::text::pybind {

inline bool IsUtf8Continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes one code point at p[i] under strict UTF-8 rules (no overlong forms, no surrogates,
// nothing above U+10FFFF), as CPython's decoder accepts them. Returns its length in bytes, or 0
// when the bytes are not valid. Inline: it runs for every character of every result.
inline std::size_t DecodeUtf8Strict(const unsigned char* p, std::size_t i, std::size_t n,
                                    std::uint32_t& cp) {
  const unsigned char c = p[i];
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF && i + 1 < n && IsUtf8Continuation(p[i + 1])) {
    cp = (c & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu);
    return 2;
  }
  if (c >= 0xE0 && c <= 0xEF && i + 2 < n && IsUtf8Continuation(p[i + 1]) &&
      IsUtf8Continuation(p[i + 2])) {
    cp = (c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
    return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4 && i + 3 < n && IsUtf8Continuation(p[i + 1]) &&
      IsUtf8Continuation(p[i + 2]) && IsUtf8Continuation(p[i + 3])) {
    cp =
        (c & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12 | (p[i + 2] & 0x3Fu) << 6 | (p[i + 3] & 0x3Fu);
    return cp >= 0x10000 && cp <= 0x10FFFF ? 4 : 0;
  }
  return 0;
}

// Writes the UTF-8 form of the `length` code points stored `width` bytes each (1, 2 or 4, a
// str's storage kind) at `data`, which hold no lone surrogate, to `out`; returns its size in
// bytes, at most Utf8BytesAtMost(width, length). `out` needs room for one byte more, which
// may be written but is not part of the result. Reads nothing but `data`, so it may run
// without the interpreter lock while the str is kept alive.
std::size_t EncodeUtf8(int width, const void* data, std::size_t length, char* out);

// An upper bound of the UTF-8 size of `length` code points stored `width` bytes each: a code
// point stored in one byte takes at most two in UTF-8, in two at most three, else four.
inline std::size_t Utf8BytesAtMost(int width, std::size_t length) {
  return (width == 1 ? 2 : width == 2 ? 3 : 4) * length;
}

// A new str of UTF-8 `bytes`, as bytes.decode("utf-8") gives it (its UnicodeDecodeError
// included, with null returned), but sized before it is filled: CPython's decoder grows its
// result as it goes, which costs more than the decoding for short CJK words.
PyObject* Utf8ToStr(std::string_view bytes);

}  // namespace orvel::typing::text::pybind
