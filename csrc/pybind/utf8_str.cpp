#include "pybind/utf8_str.h"

#include <algorithm>
#include <cstring>

namespace orvel::typing::text::pybind {
namespace {

template <typename Char>
void Fill(PyObject* str, const unsigned char* bytes, std::size_t size) {
  auto* out = static_cast<Char*>(PyUnicode_DATA(str));
  for (std::size_t i = 0; i < size;) {
    std::uint32_t cp = 0;
    i += DecodeUtf8Strict(bytes, i, size, cp);
    *out++ = static_cast<Char>(cp);
  }
}

// Writes the three UTF-8 bytes of a code point in [0x800, 0xFFFF] with one four-byte store,
// whose fourth byte the next code point overwrites or which lands in the byte of room that
// EncodeUtf8's output has past its bound.
inline unsigned char* PutThreeBytes(std::uint32_t cp, unsigned char* out) {
  const std::uint32_t first = 0xE0 | cp >> 12;
  const std::uint32_t second = 0x80 | (cp >> 6 & 0x3F);
  const std::uint32_t third = 0x80 | (cp & 0x3F);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  const std::uint32_t bytes = first << 24 | second << 16 | third << 8;
#else
  const std::uint32_t bytes = first | second << 8 | third << 16;
#endif
  std::memcpy(out, &bytes, 4);
  return out + 3;
}

template <typename Char>
std::size_t Encode(const Char* in, std::size_t length, unsigned char* out) {
  unsigned char* const start = out;
  for (std::size_t i = 0; i < length; ++i) {
    if constexpr (sizeof(Char) == 2) {
      // Four at a time while all four take three bytes, as Chinese text does nearly
      // throughout: one test for the four instead of a chain of tests for each.
      for (; i + 4 <= length; i += 4) {
        const std::uint32_t a = in[i], b = in[i + 1], c = in[i + 2], d = in[i + 3];
        if (std::min(std::min(a, b), std::min(c, d)) < 0x800) break;
        out = PutThreeBytes(d, PutThreeBytes(c, PutThreeBytes(b, PutThreeBytes(a, out))));
      }
      if (i == length) break;
    }
    const std::uint32_t cp = in[i];
    if (cp < 0x80) {
      *out++ = static_cast<unsigned char>(cp);
    } else if (cp < 0x800) {
      out[0] = static_cast<unsigned char>(0xC0 | cp >> 6);
      out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      out += 2;
    } else if (sizeof(Char) < 4 || cp < 0x10000) {
      out = PutThreeBytes(cp, out);
    } else {
      out[0] = static_cast<unsigned char>(0xF0 | cp >> 18);
      out[1] = static_cast<unsigned char>(0x80 | (cp >> 12 & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F));
      out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      out += 4;
    }
  }
  return static_cast<std::size_t>(out - start);
}

}  // namespace

std::size_t EncodeUtf8(int width, const void* data, std::size_t length, char* out) {
  auto* bytes = reinterpret_cast<unsigned char*>(out);
  switch (width) {
    case 1:
      return Encode(static_cast<const Py_UCS1*>(data), length, bytes);
    case 2:
      return Encode(static_cast<const Py_UCS2*>(data), length, bytes);
    default:
      return Encode(static_cast<const Py_UCS4*>(data), length, bytes);
  }
}

PyObject* Utf8ToStr(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t length = 0;
  std::uint32_t max_char = 0;
  for (std::size_t i = 0; i < text.size(); ++length) {
    std::uint32_t cp = 0;
    const std::size_t size = DecodeUtf8Strict(bytes, i, text.size(), cp);
    if (size == 0) {
      // CPython raises its own UnicodeDecodeError, with the usual position and reason.
      return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
    }
    if (cp > max_char) max_char = cp;
    i += size;
  }
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), max_char);
  if (!str) return nullptr;
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
      Fill<Py_UCS1>(str, bytes, text.size());
      break;
    case PyUnicode_2BYTE_KIND:
      Fill<Py_UCS2>(str, bytes, text.size());
      break;
    default:
      Fill<Py_UCS4>(str, bytes, text.size());
  }
  return str;
}

}  // namespace orvel::typing::text::pybind
