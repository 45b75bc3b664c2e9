#include "pybind/bind_tokenizer/bind_jieba_analyzer.h"

#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pybind/bind_tokenizer/lock_release.h"
#include "pybind/bind_tokenizer/word_list.h"
#include "pybind/constructed_self.h"
#include "pybind/fast_method.h"
#include "pybind/utf8_str.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;

// Results built as Python lists directly; the types only name them in signatures.
struct TokenList {
  py::list items;
};
struct TaggedList {
  py::list items;
};
struct KeywordList {
  py::list items;
};

// A frequency argument: None, or an int that fits 32 bits (OverflowError otherwise).
struct Frequency {
  std::optional<std::int32_t> value;
};

// A count argument: a non-negative int (ValueError when negative); beyond 64 bits means "all".
struct TopK {
  std::size_t value = 0;
};

// A sentence as cut() takes it (str as UTF-8, bytes or bytearray as they are), remembering
// whether it was a str: positions are then counted in code points, else in bytes.
struct Sentence {
  std::string bytes;
  bool is_text = false;
};

namespace {

[[noreturn]] void ThrowPython(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  throw py::error_already_set();
}

// A Python int as a C++ integer, refusing bool and non-integers with TypeError.
long long ToInteger(py::handle value, const char* name, int& overflow) {
  if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) {
    throw py::type_error(std::string(name) + " must be an int, not " +
                         Py_TYPE(value.ptr())->tp_name);
  }
  const long long result = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (result == -1 && PyErr_Occurred()) throw py::error_already_set();
  return result;
}

std::optional<std::int32_t> ToFrequency(py::handle freq) {
  if (freq.is_none()) return std::nullopt;
  int overflow = 0;
  const long long value = ToInteger(freq, "freq", overflow);
  if (overflow != 0 || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    ThrowPython(PyExc_OverflowError, "freq does not fit in a signed 32-bit integer");
  }
  return static_cast<std::int32_t>(value);
}

std::size_t ToTopK(py::handle top_k) {
  int overflow = 0;
  const long long value = ToInteger(top_k, "top_k", overflow);
  if (overflow < 0 || (overflow == 0 && value < 0)) {
    ThrowPython(PyExc_ValueError, "top_k must be 0 or more");
  }
  if (overflow > 0) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(value);
}

}  // namespace
}  // namespace orvel::typing::text::pybind

namespace pybind11::detail {

namespace orvel_py = orvel::typing::text::pybind;

template <typename List>
struct ListResultCaster {
  bool load(handle, bool) { return false; }  // a result type only
  static handle cast(const List& src, return_value_policy, handle) { return src.items.inc_ref(); }
};

template <>
struct type_caster<orvel_py::TokenList> : ListResultCaster<orvel_py::TokenList> {
  static constexpr auto name = const_name("List[Tuple[str, int, int]]");
};

template <>
struct type_caster<orvel_py::TaggedList> : ListResultCaster<orvel_py::TaggedList> {
  static constexpr auto name = const_name("List[Tuple[str, str]]");
};

template <>
struct type_caster<orvel_py::KeywordList> : ListResultCaster<orvel_py::KeywordList> {
  static constexpr auto name = const_name("Union[List[str], List[Tuple[str, float]]]");
};

// Wrong types and out-of-range values raise here, with the exception a user expects, instead
// of falling through to pybind11's generic "incompatible function arguments".
template <>
struct type_caster<orvel_py::Frequency> {
  PYBIND11_TYPE_CASTER(orvel_py::Frequency, const_name("Optional[int]"));
  bool load(handle src, bool) {
    value.value = orvel_py::ToFrequency(src);
    return true;
  }
  static handle cast(const orvel_py::Frequency&, return_value_policy, handle) {
    pybind11_fail("Frequency is an argument type only");
  }
};

template <>
struct type_caster<orvel_py::TopK> {
  PYBIND11_TYPE_CASTER(orvel_py::TopK, const_name("int"));
  bool load(handle src, bool) {
    value.value = orvel_py::ToTopK(src);
    return true;
  }
  static handle cast(const orvel_py::TopK&, return_value_policy, handle) {
    pybind11_fail("TopK is an argument type only");
  }
};

template <>
struct type_caster<orvel_py::Sentence> {
  PYBIND11_TYPE_CASTER(orvel_py::Sentence, const_name("Union[str, bytes]"));
  bool load(handle src, bool convert) {
    make_caster<std::string> bytes;
    if (!bytes.load(src, convert)) return false;
    value.bytes = cast_op<std::string&&>(std::move(bytes));
    value.is_text = PyUnicode_Check(src.ptr());
    return true;
  }
  static handle cast(const orvel_py::Sentence&, return_value_policy, handle) {
    pybind11_fail("Sentence is an argument type only");
  }
};

}  // namespace pybind11::detail

namespace orvel::typing::text::pybind {
namespace {

using tokenizer::jieba::DictionaryChange;
using tokenizer::jieba::Jieba;
using tokenizer::jieba::Token;
using tokenizer::jieba::TokenMode;
using tokenizer::jieba::WordSpan;

std::optional<TokenMode> ParseMode(std::string_view mode) {
  if (mode == "default") return TokenMode::kMixed;
  if (mode == "search") return TokenMode::kSearch;
  return std::nullopt;
}

TokenMode ToMode(const std::string& mode) {
  if (const std::optional<TokenMode> parsed = ParseMode(mode)) return *parsed;
  throw py::value_error("mode must be 'default' or 'search', not '" + mode + "'");
}

py::str ToStr(const std::string& bytes) {
  PyObject* str = Utf8ToStr(bytes);
  if (!str) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(str);
}

// A new reference, or a thrown error_already_set.
PyObject* Checked(PyObject* object) {
  if (!object) throw py::error_already_set();
  return object;
}

// A tuple of `items` (new references, all stolen, even when building the tuple fails).
//
// The tuple is left untracked by the cycle collector when no item is a container (the
// analyzer's items are str, int and float): such a tuple can never be part of a cycle, and the
// collector itself untracks it at the first collection it survives. Until then it would be
// traversed at every collection; with one tuple per word, that was about a fifth of the time
// of a tokenize loop.
template <std::size_t N>
PyObject* TupleOf(PyObject* const (&items)[N]) {
  PyObject* tuple = PyTuple_New(N);
  bool holds_container = false;
  for (std::size_t i = 0; i < N; ++i) {
    if (!tuple || !items[i]) {
      for (std::size_t k = i; k < N; ++k) Py_XDECREF(items[k]);
      Py_XDECREF(tuple);
      throw py::error_already_set();
    }
    holds_container = holds_container || PyObject_IS_GC(items[i]);
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), items[i]);
  }
  if (!holds_container) PyObject_GC_UnTrack(tuple);
  return tuple;
}

// The method bodies below take the sentence as UTF-8 bytes (a str's) or raw bytes, viewed in
// place; `is_text` tells which, since positions count code points for a str.

PyObject* TokenizeText(const Jieba& jieba, std::string_view sentence, bool is_text, TokenMode mode,
                       bool hmm) {
  std::vector<Token> tokens;
  WordList words;
  words.borrowed = sentence;
  RunReleasingLockIfLong(sentence.size(), [&] {
    jieba.Tokenize(sentence, mode, hmm, tokens);
    words.spans.reserve(tokens.size());
    for (const Token& token : tokens) words.spans.push_back({token.byte_begin, token.byte_end});
    words.Decode();
  });
  py::list result =
      py::reinterpret_steal<py::list>(Checked(PyList_New(static_cast<Py_ssize_t>(tokens.size()))));
  const std::uint32_t* code_points = words.code_points.data();
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    PyObject* word = WordStr(words, i, code_points);
    const std::size_t start = is_text ? token.rune_begin : token.byte_begin;
    const std::size_t end = is_text ? token.rune_end : token.byte_end;
    PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i),
                    TupleOf({word, PyLong_FromSize_t(start), PyLong_FromSize_t(end)}));
  }
  return result.release().ptr();
}

void CutAllText(const Jieba& jieba, WordList& words) {
  const std::string_view sentence = words.Text();
  RunReleasingLockIfLong(sentence.size(), [&] {
    jieba.CutAllSpans(sentence, words.spans);
    words.Decode();
  });
}

PyObject* TagText(const Jieba& jieba, std::string_view sentence, bool hmm) {
  std::vector<tokenizer::jieba::TaggedWord> tagged;
  WordList words;
  words.borrowed = sentence;
  RunReleasingLockIfLong(sentence.size(), [&] {
    jieba.Tag(sentence, hmm, tagged);
    words.spans.reserve(tagged.size());
    for (const auto& word : tagged) words.spans.push_back(word.span);
    words.Decode();
  });
  // A sentence uses few distinct tags: each becomes one str.
  std::unordered_map<std::string, py::str> tags;
  py::list result =
      py::reinterpret_steal<py::list>(Checked(PyList_New(static_cast<Py_ssize_t>(tagged.size()))));
  const std::uint32_t* code_points = words.code_points.data();
  for (std::size_t i = 0; i < tagged.size(); ++i) {
    auto it = tags.find(tagged[i].tag);
    if (it == tags.end()) it = tags.emplace(tagged[i].tag, ToStr(tagged[i].tag)).first;
    PyObject* word = WordStr(words, i, code_points);
    PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i),
                    TupleOf({word, it->second.inc_ref().ptr()}));
  }
  return result.release().ptr();
}

PyObject* KeywordsOfText(const Jieba& jieba, std::string_view sentence, std::size_t top_k,
                         bool with_weights) {
  std::vector<tokenizer::jieba::Keyword> keywords;
  RunReleasingLockIfLong(sentence.size(),
                         [&] { jieba.ExtractKeywords(sentence, top_k, keywords, false); });
  py::list result = py::reinterpret_steal<py::list>(
      Checked(PyList_New(static_cast<Py_ssize_t>(keywords.size()))));
  for (std::size_t i = 0; i < keywords.size(); ++i) {
    PyObject* word = ToStr(keywords[i].word).release().ptr();
    PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i),
                    with_weights ? TupleOf({word, PyFloat_FromDouble(keywords[i].weight)}) : word);
  }
  return result.release().ptr();
}

// The bodies as pybind11 methods.

TokenList Tokenize(ConstructedSelf<Jieba> self, Sentence sentence, const std::string& mode,
                   bool hmm) {
  const TokenMode token_mode = ToMode(mode);
  return {py::reinterpret_steal<py::list>(
      TokenizeText(*self, sentence.bytes, sentence.is_text, token_mode, hmm))};
}

WordList CutAll(ConstructedSelf<Jieba> self, std::string sentence) {
  WordList result;
  result.sentence = std::move(sentence);
  CutAllText(*self, result);
  return result;
}

TaggedList Tag(ConstructedSelf<Jieba> self, Sentence sentence, bool hmm) {
  return {py::reinterpret_steal<py::list>(TagText(*self, sentence.bytes, hmm))};
}

KeywordList ExtractKeywords(ConstructedSelf<Jieba> self, Sentence sentence, TopK top_k,
                            bool with_weights) {
  return {py::reinterpret_steal<py::list>(
      KeywordsOfText(*self, sentence.bytes, top_k.value, with_weights))};
}

// The same bodies for the usual calls, arguments read in place (see AddFastPath). Anything
// they do not take as it is (another mode, a negative top_k, an int for a bool) is declined,
// for pybind11's function to convert or refuse with its own error.

PyObject* FastTokenize(Jieba& jieba, PyObject* const* args) {
  std::string_view sentence;
  bool is_text = false;
  bool hmm = true;
  TokenMode mode = TokenMode::kMixed;
  if (!TextArgument(args[0], sentence, is_text) || !BoolArgument(args[2], true, hmm)) {
    return nullptr;
  }
  if (args[1] != nullptr) {
    std::string_view name;
    bool mode_is_str = false;
    if (!TextArgument(args[1], name, mode_is_str) || !mode_is_str) return nullptr;
    const std::optional<TokenMode> parsed = ParseMode(name);
    if (!parsed) return nullptr;
    mode = *parsed;
  }
  return TokenizeText(jieba, sentence, is_text, mode, hmm);
}

PyObject* FastCutAll(Jieba& jieba, PyObject* const* args) {
  std::string_view sentence;
  bool is_text = false;
  if (!TextArgument(args[0], sentence, is_text)) return nullptr;
  WordList words;
  words.borrowed = sentence;
  CutAllText(jieba, words);
  return WordListToPython(words);
}

PyObject* FastTag(Jieba& jieba, PyObject* const* args) {
  std::string_view sentence;
  bool is_text = false;
  bool hmm = true;
  if (!TextArgument(args[0], sentence, is_text) || !BoolArgument(args[1], true, hmm)) {
    return nullptr;
  }
  return TagText(jieba, sentence, hmm);
}

PyObject* FastExtractKeywords(Jieba& jieba, PyObject* const* args) {
  std::string_view sentence;
  bool is_text = false;
  bool with_weights = false;
  std::size_t top_k = 20;
  if (!TextArgument(args[0], sentence, is_text) || !BoolArgument(args[2], false, with_weights)) {
    return nullptr;
  }
  if (args[1] != nullptr) {
    if (!PyLong_CheckExact(args[1])) return nullptr;
    const long long value = PyLong_AsLongLong(args[1]);
    if (value < 0) {
      PyErr_Clear();  // an overflow is declined as well, for the method's own handling
      return nullptr;
    }
    top_k = static_cast<std::size_t>(value);
  }
  return KeywordsOfText(jieba, sentence, top_k, with_weights);
}

bool AddWord(ConstructedSelf<Jieba> self, std::string word, Frequency freq,
             std::optional<std::string> tag) {
  py::gil_scoped_release release;
  return (*self).InsertWord(word, freq.value, tag.value_or(std::string()));
}

// add_words items: a word, or a (word,), (word, freq) or (word, freq, tag) tuple or list.
DictionaryChange ToInsertion(py::handle item) {
  DictionaryChange change;
  if (PyTuple_Check(item.ptr()) || PyList_Check(item.ptr())) {
    const auto fields = py::reinterpret_borrow<py::sequence>(item);
    if (fields.size() < 1 || fields.size() > 3) {
      throw py::type_error("add_words items must be a word or a (word[, freq[, tag]]) tuple");
    }
    change.word = py::cast<std::string>(fields[0]);
    if (fields.size() > 1) change.frequency = ToFrequency(fields[1]);
    if (fields.size() > 2 && !fields[2].is_none()) change.tag = py::cast<std::string>(fields[2]);
  } else {
    change.word = py::cast<std::string>(item);
  }
  return change;
}

void AddWords(ConstructedSelf<Jieba> self, py::iterable items) {
  std::vector<DictionaryChange> changes;
  for (py::handle item : items) changes.push_back(ToInsertion(item));
  py::gil_scoped_release release;
  (*self).ApplyChanges(changes);
}

py::str WordTag(ConstructedSelf<Jieba> self, std::string word) {
  std::string tag;
  {
    py::gil_scoped_release release;
    tag = (*self).LookupTag(word);
  }
  return ToStr(tag);
}

}  // namespace

// Each method is one block, so that methods added elsewhere merge without touching these.
void BindJiebaAnalyzer(py::class_<Jieba, std::shared_ptr<Jieba>>& cls) {
  cls.def("tokenize", &Tokenize, py::arg("sentence"), py::arg("mode") = "default",
          py::arg("hmm").noconvert() = true,
          "Words with their positions, as (word, start, end) tuples: code-point offsets for a\n"
          "str (sentence[start:end] == word), byte offsets for bytes. mode is 'default' (the\n"
          "words of cut) or 'search' (those of cut_for_search); hmm=False leaves out the HMM's\n"
          "grouping of unknown words.");

  cls.def("cut_all", &CutAll, py::arg("sentence"),
          "Full mode: every dictionary word in the sentence, overlapping, by position and then\n"
          "length, with each single character that no such word covers.");

  cls.def("tag", &Tag, py::arg("sentence"), py::arg("hmm").noconvert() = true,
          "The words of cut (of the cut without HMM when hmm=False), each as a (word, tag)\n"
          "tuple with its part-of-speech tag as word_tag gives it.");

  cls.def("extract_keywords", &ExtractKeywords, py::arg("sentence"), py::arg("top_k") = 20,
          py::arg("with_weights").noconvert() = false,
          "The top_k TF-IDF keywords of the sentence, heaviest first, equal weights in order of\n"
          "first occurrence: words of cut of two or more characters that are not stop words,\n"
          "weighed by occurrences x IDF (the average IDF for words the table lacks). With\n"
          "with_weights=True, (word, weight) tuples.");

  cls.def("add_word", &AddWord, py::arg("word"), py::arg("freq") = py::none(),
          py::arg("tag") = py::none(),
          "Adds word to the dictionary, or replaces its entry, for every later call in every\n"
          "mode. freq (0 to 2**31 - 1) gives the weight ln(freq / total frequency); None or 0\n"
          "gives the median weight. Returns False when word is bytes that cannot be decoded;\n"
          "an empty word changes nothing.");

  cls.def("add_words", &AddWords, py::arg("words"),
          "add_word for each item (a word, or a (word[, freq[, tag]]) tuple), all taking effect\n"
          "together with at most one rebuild. A negative freq anywhere changes nothing.");

  cls.def("del_word", OnConstructed(&Jieba::DeleteWord), py::arg("word"),
          "Removes the entry of exactly this word; other words are untouched. Returns False\n"
          "when word is bytes that cannot be decoded, else True.",
          py::call_guard<py::gil_scoped_release>());

  cls.def("find_word", OnConstructed(&Jieba::Find), py::arg("word"),
          "Whether word is a dictionary word, whatever its weight.",
          py::call_guard<py::gil_scoped_release>());

  cls.def("word_tag", &WordTag, py::arg("word"),
          "Part-of-speech tag of a word: its dictionary tag, else by its leading ASCII\n"
          "characters 'm' (digits) or 'eng', else 'x'.");

  AddFastPath(cls, "tokenize", {"sentence", "mode", "hmm"}, &OnSelf<Jieba, &FastTokenize>);
  AddFastPath(cls, "cut_all", {"sentence"}, &OnSelf<Jieba, &FastCutAll>);
  AddFastPath(cls, "tag", {"sentence", "hmm"}, &OnSelf<Jieba, &FastTag>);
  AddFastPath(cls, "extract_keywords", {"sentence", "top_k", "with_weights"},
              &OnSelf<Jieba, &FastExtractKeywords>);
}

}  // namespace orvel::typing::text::pybind
