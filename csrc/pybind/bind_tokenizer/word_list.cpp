#include "pybind/bind_tokenizer/word_list.h"

#include <cstddef>

#include "pybind/utf8_str.h"

namespace orvel::typing::text::pybind {
namespace {

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
      const std::size_t size = DecodeUtf8Strict(bytes, i, span.end, cp);
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

PyObject* WordStr(const WordList& decoded, std::size_t index, const std::uint32_t*& code_points) {
  const WordList::Word& word = decoded.words[index];
  if (word.max_char == WordList::kInvalid) {
    // Let CPython raise its own UnicodeDecodeError, with the usual position and reason.
    const tokenizer::jieba::WordSpan& span = decoded.spans[index];
    return PyUnicode_DecodeUTF8(decoded.Text().data() + span.begin,
                                static_cast<Py_ssize_t>(span.end - span.begin), nullptr);
  }
  PyObject* str = WordToStr(word, code_points);
  code_points += word.length;
  return str;
}

PyObject* WordListToPython(const WordList& decoded) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(decoded.words.size()));
  if (!list) return nullptr;
  const std::uint32_t* code_points = decoded.code_points.data();
  for (std::size_t index = 0; index < decoded.words.size(); ++index) {
    PyObject* str = WordStr(decoded, index, code_points);
    if (!str) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(index), str);
  }
  return list;
}

}  // namespace orvel::typing::text::pybind
