#include "pybind/bind_tokenizer/word_list.h"

#include <cstddef>

namespace orvel::typing::text::pybind {
namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes one code point at p[i] under strict UTF-8 rules (no overlong forms, no surrogates,
// nothing above U+10FFFF). Returns its length in bytes, or 0 when the bytes are not valid.
std::size_t DecodeStrict(const unsigned char* p, std::size_t i, std::size_t n, Py_UCS4& cp) {
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

template <typename Char>
void Fill(PyObject* str, const unsigned char* p, std::size_t n) {
  auto* out = static_cast<Char*>(PyUnicode_DATA(str));
  Py_UCS4 cp = 0;
  for (std::size_t i = 0; i < n;) {
    i += DecodeStrict(p, i, n, cp);
    *out++ = static_cast<Char>(cp);
  }
}

// CPython's general decoder makes up to three allocations for a short CJK word (a one-byte
// buffer, a widened copy, a final resize), which is most of the cost of returning a cut.
// Counting first lets each str be allocated once, at its final size and width.
PyObject* WordToStr(const char* word, std::size_t n) {
  const auto* p = reinterpret_cast<const unsigned char*>(word);
  Py_ssize_t length = 0;
  Py_UCS4 max_char = 0;
  Py_UCS4 cp = 0;
  for (std::size_t i = 0; i < n; ++length) {
    const std::size_t size = DecodeStrict(p, i, n, cp);
    // Let CPython raise its own UnicodeDecodeError, with the usual position and reason.
    if (size == 0) return PyUnicode_DecodeUTF8(word, static_cast<Py_ssize_t>(n), nullptr);
    if (cp > max_char) max_char = cp;
    i += size;
  }
  // One-character Latin-1 strings are shared singletons in CPython.
  if (length == 1) return PyUnicode_FromOrdinal(static_cast<int>(cp));
  PyObject* str = PyUnicode_New(length, max_char);
  if (!str) return nullptr;
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
      Fill<Py_UCS1>(str, p, n);
      break;
    case PyUnicode_2BYTE_KIND:
      Fill<Py_UCS2>(str, p, n);
      break;
    default:
      Fill<Py_UCS4>(str, p, n);
  }
  return str;
}

}  // namespace

PyObject* WordListToPython(const WordList& words) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(words.spans.size()));
  if (!list) return nullptr;
  Py_ssize_t index = 0;
  for (const tokenizer::jieba::WordSpan& span : words.spans) {
    PyObject* str = WordToStr(words.sentence.data() + span.begin, span.end - span.begin);
    if (!str) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, index++, str);
  }
  return list;
}

}  // namespace orvel::typing::text::pybind
