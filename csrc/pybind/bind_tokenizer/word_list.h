#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "tokenizer/jieba/word_span.h"

namespace orvel::typing::text::pybind {

// The words of one cut, returned to Python as a list of str: the sentence and each word's byte
// span in it, so that a word's bytes are copied once, straight into its str. A type of its own
// so that the conversion below replaces pybind11's generic one for these results only.
struct WordList {
  std::string sentence;
  std::vector<tokenizer::jieba::WordSpan> spans;
};

// Builds a new list of str from the UTF-8 words; returns null with UnicodeDecodeError set when a
// word is not strictly valid UTF-8, exactly as bytes.decode("utf-8") would fail.
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
