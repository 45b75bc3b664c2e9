#include "pybind/bind_tokenizer/bind_jieba_analyzer.h"

#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pybind/bind_tokenizer/word_list.h"
#include "pybind/constructed_self.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;
using tokenizer::jieba::DictionaryChange;
using tokenizer::jieba::Jieba;
using tokenizer::jieba::Token;
using tokenizer::jieba::TokenMode;
using tokenizer::jieba::WordSpan;

// A sentence as cut() takes it (str as UTF-8, bytes or bytearray as they are), remembering
// whether it was a str: positions are then counted in code points, else in bytes.
struct Sentence {
  std::string bytes;
  bool is_text = false;
};

}  // namespace orvel::typing::text::pybind

namespace pybind11::detail {

template <>
struct type_caster<orvel::typing::text::pybind::Sentence> {
  PYBIND11_TYPE_CASTER(orvel::typing::text::pybind::Sentence, const_name("Union[str, bytes]"));

  bool load(handle src, bool convert) {
    make_caster<std::string> bytes;
    if (!bytes.load(src, convert)) return false;
    value.bytes = cast_op<std::string&&>(std::move(bytes));
    value.is_text = PyUnicode_Check(src.ptr());
    return true;
  }

  static handle cast(const orvel::typing::text::pybind::Sentence&, return_value_policy, handle) {
    pybind11_fail("Sentence is an argument type only");
  }
};

}  // namespace pybind11::detail

namespace orvel::typing::text::pybind {
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

// None, or an int that fits 32 bits (OverflowError otherwise).
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

TokenMode ToMode(const std::string& mode) {
  if (mode == "default") return TokenMode::kMixed;
  if (mode == "search") return TokenMode::kSearch;
  throw py::value_error("mode must be 'default' or 'search', not '" + mode + "'");
}

py::str ToStr(const std::string& bytes) {
  PyObject* str =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
  if (!str) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(str);
}

// The words of `spans` as a list of str, decoded like cut() decodes its words.
py::list WordsOf(std::string sentence, std::vector<WordSpan> spans) {
  WordList words;
  words.sentence = std::move(sentence);
  words.spans = std::move(spans);
  {
    py::gil_scoped_release release;
    words.Decode();
  }
  PyObject* list = WordListToPython(words);
  if (!list) throw py::error_already_set();
  return py::reinterpret_steal<py::list>(list);
}

py::list Tokenize(ConstructedSelf<Jieba> self, Sentence sentence, const std::string& mode,
                  bool hmm) {
  const TokenMode token_mode = ToMode(mode);
  std::vector<Token> tokens;
  std::vector<WordSpan> spans;
  {
    py::gil_scoped_release release;
    (*self).Tokenize(sentence.bytes, token_mode, hmm, tokens);
    spans.reserve(tokens.size());
    for (const Token& token : tokens) spans.push_back({token.byte_begin, token.byte_end});
  }
  py::list words = WordsOf(std::move(sentence.bytes), std::move(spans));
  py::list result(tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    result[i] = sentence.is_text ? py::make_tuple(words[i], token.rune_begin, token.rune_end)
                                 : py::make_tuple(words[i], token.byte_begin, token.byte_end);
  }
  return result;
}

py::list CutAll(ConstructedSelf<Jieba> self, Sentence sentence) {
  std::vector<WordSpan> spans;
  {
    py::gil_scoped_release release;
    (*self).CutAllSpans(sentence.bytes, spans);
  }
  return WordsOf(std::move(sentence.bytes), std::move(spans));
}

py::list Tag(ConstructedSelf<Jieba> self, Sentence sentence, bool hmm) {
  std::vector<tokenizer::jieba::TaggedWord> tagged;
  std::vector<WordSpan> spans;
  {
    py::gil_scoped_release release;
    (*self).Tag(sentence.bytes, hmm, tagged);
    spans.reserve(tagged.size());
    for (const auto& word : tagged) spans.push_back(word.span);
  }
  py::list words = WordsOf(std::move(sentence.bytes), std::move(spans));
  // A sentence uses few distinct tags: each becomes one str.
  std::unordered_map<std::string, py::str> tags;
  py::list result(tagged.size());
  for (std::size_t i = 0; i < tagged.size(); ++i) {
    auto it = tags.find(tagged[i].tag);
    if (it == tags.end()) it = tags.emplace(tagged[i].tag, ToStr(tagged[i].tag)).first;
    result[i] = py::make_tuple(words[i], it->second);
  }
  return result;
}

py::list ExtractKeywords(ConstructedSelf<Jieba> self, Sentence sentence, py::handle top_k,
                         bool with_weights) {
  const std::size_t count = ToTopK(top_k);
  std::vector<tokenizer::jieba::Keyword> keywords;
  {
    py::gil_scoped_release release;
    (*self).ExtractKeywords(sentence.bytes, count, keywords);
  }
  py::list result(keywords.size());
  for (std::size_t i = 0; i < keywords.size(); ++i) {
    py::str word = ToStr(keywords[i].word);
    if (with_weights) {
      result[i] = py::make_tuple(word, keywords[i].weight);
    } else {
      result[i] = word;
    }
  }
  return result;
}

bool AddWord(ConstructedSelf<Jieba> self, std::string word, py::handle freq,
             std::optional<std::string> tag) {
  const std::optional<std::int32_t> frequency = ToFrequency(freq);
  py::gil_scoped_release release;
  return (*self).InsertWord(word, frequency, tag.value_or(std::string()));
}

// add_words items: a word, or a (word,), (word, freq) or (word, freq, tag) sequence.
DictionaryChange ToInsertion(py::handle item) {
  DictionaryChange change;
  if (PyTuple_Check(item.ptr()) || PyList_Check(item.ptr())) {
    py::sequence fields = py::reinterpret_borrow<py::sequence>(item);
    if (fields.size() < 1 || fields.size() > 3) {
      throw py::type_error("add_words items must be a word or (word[, freq[, tag]])");
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

}  // namespace

void BindJiebaAnalyzer(py::class_<Jieba, std::shared_ptr<Jieba>>& cls) {
  cls.def("tokenize", &Tokenize, py::arg("sentence"), py::arg("mode") = "default",
          py::arg("hmm").noconvert() = true,
          "Words with their positions, as (word, start, end) tuples: code-point offsets for a str\n"
          "(sentence[start:end] == word), byte offsets for bytes. mode is 'default' (the words\n"
          "of cut) or 'search' (those of cut_for_search); hmm=False leaves out the HMM's\n"
          "guessing of unknown words.");
  cls.def("cut_all", &CutAll, py::arg("sentence"),
          "Full mode: every dictionary word in the sentence, overlapping, in order of position\n"
          "and then length, with the single characters no such word covers.");
  cls.def("tag", &Tag, py::arg("sentence"), py::arg("hmm").noconvert() = true,
          "The words of cut (or of the cut without HMM when hmm=False), each as a (word, tag)\n"
          "tuple with its part-of-speech tag (see word_tag).");
  cls.def("extract_keywords", &ExtractKeywords, py::arg("sentence"), py::arg("top_k") = 20,
          py::arg("with_weights").noconvert() = false,
          "The top_k TF-IDF keywords of the sentence, heaviest first (equal weights in order of\n"
          "first occurrence): words of two or more characters of cut that are not stop words,\n"
          "weighed by occurrences x IDF. With with_weights=True, (word, weight) tuples.");
  cls.def("add_word", &AddWord, py::arg("word"), py::arg("freq") = py::none(),
          py::arg("tag") = py::none(),
          "Adds word to the dictionary, or replaces its entry, for every later call in every\n"
          "mode. freq (a 32-bit int, 0 or more) sets its weight; None or 0 gives the median\n"
          "weight. Returns False when word is bytes that cannot be decoded; an empty word\n"
          "changes nothing.");
  cls.def("del_word", OnConstructed(&Jieba::DeleteWord), py::arg("word"),
          "Removes the entry of exactly this word (no other word). Returns False when word is\n"
          "bytes that cannot be decoded, True otherwise.",
          py::call_guard<py::gil_scoped_release>());
  cls.def("add_words", &AddWords, py::arg("words"),
          "add_word for each item of an iterable (a word, or a (word[, freq[, tag]]) tuple),\n"
          "taking effect together and rebuilding the dictionary at most once. A negative\n"
          "freq anywhere changes nothing.");
  cls.def("find_word", OnConstructed(&Jieba::Find), py::arg("word"),
          "Whether word is a dictionary word.", py::call_guard<py::gil_scoped_release>());
  cls.def(
      "word_tag",
      [](ConstructedSelf<Jieba> self, std::string word) {
        std::string tag;
        {
          py::gil_scoped_release release;
          tag = (*self).LookupTag(word);
        }
        return ToStr(tag);
      },
      py::arg("word"),
      "Part-of-speech tag of a word: its dictionary tag, else 'm' or 'eng' by its leading\n"
      "ASCII characters (digits only: 'm'), else 'x'.");
}

}  // namespace orvel::typing::text::pybind
