#include "pybind/bind_tokenizer/word_list.h"

#include <cstddef>

namespace orvel::typing::text::pybind {
namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes one code point at p[i] under strict UTF-8 rules (no overlong forms, no surrogates,
// nothing above U+10FFFF). Returns its length in bytes, or 0 when the bytes are not valid.
std::size_t DecodeStrict(const unsigned char* p, std::size_t i, std::size_t n, std::uint32_t& cp) {
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
void Narrow(PyObject* str, const std::uint32_t* code_points, std::size_t length) {
  auto* out = static_cast<Char*>(PyUnicode_DATA(str));
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<Char>(code_points[i]);
}

PyObject* WordToStr(const WordList::Word& word, const std::uint32_t* code_points) {
  // One-character Latin-1 strings are shared singletons in CPython.
  if (word.length == 1) return PyUnicode_FromOrdinal(static_cast<int>(code_points[0]));
  PyObject* str = PyUnicode_New(word.length, word.max_char);
  if (!str) return nullptr;
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
      Narrow<Py_UCS1>(str, code_points, word.length);
      break;
    case PyUnicode_2BYTE_KIND:
      Narrow<Py_UCS2>(str, code_points, word.length);
      break;
    default:
      Narrow<Py_UCS4>(str, code_points, word.length);
  }
  return str;
}

}  // namespace

void WordList::Decode() {
  const std::string_view text = Text();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  words.clear();
  words.reserve(spans.size());
  code_points.clear();
  // A word never has more code points than bytes; for cut the words cover the sentence once.
  code_points.reserve(text.size());
  for (const tokenizer::jieba::WordSpan& span : spans) {
    Word word{0, 0};
    const std::size_t first = code_points.size();
    for (std::size_t i = span.begin; i < span.end;) {
      std::uint32_t cp = 0;
      const std::size_t size = DecodeStrict(bytes, i, span.end, cp);
      if (size == 0) {
        word = {0, kInvalid};
        code_points.resize(first);
        break;
      }
      code_points.push_back(cp);
      if (cp > word.max_char) word.max_char = cp;
      ++word.length;
      i += size;
    }
    words.push_back(word);
  }
}

PyObject* WordListToPython(const WordList& decoded) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(decoded.words.size()));
  if (!list) return nullptr;
  const std::uint32_t* code_points = decoded.code_points.data();
  for (std::size_t index = 0; index < decoded.words.size(); ++index) {
    const WordList::Word& word = decoded.words[index];
    PyObject* str = nullptr;
    if (word.max_char == WordList::kInvalid) {
      // Let CPython raise its own UnicodeDecodeError, with the usual position and reason.
      const tokenizer::jieba::WordSpan& span = decoded.spans[index];
      str = PyUnicode_DecodeUTF8(decoded.Text().data() + span.begin,
                                 static_cast<Py_ssize_t>(span.end - span.begin), nullptr);
    } else {
      str = WordToStr(word, code_points);
      code_points += word.length;
    }
    if (!str) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(index), str);
  }
  return list;
}

}  // namespace orvel::typing::text::pybind
