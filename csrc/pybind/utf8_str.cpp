#include "pybind/utf8_str.h"

namespace orvel::typing::text::pybind {
namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

template <typename Char>
void Fill(PyObject* str, const unsigned char* bytes, std::size_t size) {
  auto* out = static_cast<Char*>(PyUnicode_DATA(str));
  for (std::size_t i = 0; i < size;) {
    std::uint32_t cp = 0;
    i += DecodeUtf8Strict(bytes, i, size, cp);
    *out++ = static_cast<Char>(cp);
  }
}

}  // namespace

std::size_t DecodeUtf8Strict(const unsigned char* p, std::size_t i, std::size_t n,
                             std::uint32_t& cp) {
  const unsigned char c = p[i];
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF && i + 1 < n && IsContinuation(p[i + 1])) {
    cp = (c & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu);
    return 2;
  }
  if (c >= 0xE0 && c <= 0xEF && i + 2 < n && IsContinuation(p[i + 1]) && IsContinuation(p[i + 2])) {
    cp = (c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
    return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4 && i + 3 < n && IsContinuation(p[i + 1]) && IsContinuation(p[i + 2]) &&
      IsContinuation(p[i + 3])) {
    cp =
        (c & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12 | (p[i + 2] & 0x3Fu) << 6 | (p[i + 3] & 0x3Fu);
    return cp >= 0x10000 && cp <= 0x10FFFF ? 4 : 0;
  }
  return 0;
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
