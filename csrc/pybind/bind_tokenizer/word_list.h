#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace orvel::typing::text::pybind {

// The words of one cut, returned to Python as a list of str. A type of its own so that the
// conversion below replaces pybind11's generic one for these results only.
struct WordList {
  std::vector<std::string> words;
};

// Builds a new list of str from UTF-8 words; returns null with UnicodeDecodeError set when a
// word is not strictly valid UTF-8, exactly as bytes.decode("utf-8") would fail.
PyObject* WordListToPython(const std::vector<std::string>& words);

}  // namespace orvel::typing::text::pybind

namespace pybind11::detail {

template <>
struct type_caster<orvel::typing::text::pybind::WordList> {
  // Rendered like std::vector<std::string>, so signatures read "-> List[str]".
  PYBIND11_TYPE_CASTER(orvel::typing::text::pybind::WordList, const_name("List[str]"));

  bool load(handle, bool) { return false; }  // a result type only

  static handle cast(const orvel::typing::text::pybind::WordList& src, return_value_policy,
                     handle) {
    PyObject* list = orvel::typing::text::pybind::WordListToPython(src.words);
    if (!list) throw error_already_set();
    return list;
  }
};

}  // namespace pybind11::detail
