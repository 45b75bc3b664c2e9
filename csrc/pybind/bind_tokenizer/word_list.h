#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/word_span.h"

namespace orvel::typing::text::pybind {

// The words of one cut on their way to a Python list of str. Everything that does not need
// the interpreter, that is strict UTF-8 decoding and sizing each str, is done by Decode()
// while the lock is released; under the lock only allocation and a narrowing copy remain.
// A type of its own so that the conversion below replaces pybind11's generic one.
struct WordList {
  // Marks a word whose bytes are not strictly valid UTF-8.
  static constexpr std::uint32_t kInvalid = 0xFFFFFFFF;

  struct Word {
    std::uint32_t length;    // in code points
    std::uint32_t max_char;  // the widest code point, or kInvalid
  };

  std::string sentence;
  // Set instead of `sentence` when the text lives elsewhere for as long as this does (a batch
  // holds its texts), to save a copy.
  std::optional<std::string_view> borrowed;
  std::vector<tokenizer::jieba::WordSpan> spans;  // byte offsets into the text
  std::vector<Word> words;                        // one per span, once decoded
  std::vector<std::uint32_t> code_points;         // all words' code points, in word order

  std::string_view Text() const { return borrowed ? *borrowed : std::string_view(sentence); }

  // Fills `words` and `code_points` from the text and `spans`. Needs no Python.
  void Decode();
};

// A new str of decoded word `index`, the words before it having been taken in order:
// `code_points` starts at words.code_points.data() and moves past each word's code points.
// Null with UnicodeDecodeError set when the word is not valid UTF-8, as for the list below.
PyObject* WordStr(const WordList& words, std::size_t index, const std::uint32_t*& code_points);

// Builds a new list of str from decoded words; returns null with UnicodeDecodeError set when
// a word is not strictly valid UTF-8, exactly as bytes.decode("utf-8") would fail.
PyObject* WordListToPython(const WordList& words);

}  // namespace orvel::typing::text::pybind

namespace pybind11::detail {

template <>
struct type_caster<orvel::typing::text::pybind::WordList> {
  // Rendered like std::vector<std::string>, so signatures read "-> List[str]".
  PYBIND11_TYPE_CASTER(orvel::typing::text::pybind::WordList, const_name("List[str]"));

  bool load(handle, bool) { return false; }  // a result type only

  static handle cast(const orvel::typing::text::pybind::WordList& src, return_value_policy,
                     handle) {
    PyObject* list = orvel::typing::text::pybind::WordListToPython(src);
    if (!list) throw error_already_set();
    return list;
  }
};

}  // namespace pybind11::detail
