#include "pybind/bind_tokenizer/bind_jieba.h"

#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pybind/bind_tokenizer/bind_jieba_analyzer.h"
#include "pybind/bind_tokenizer/lock_release.h"
#include "pybind/bind_tokenizer/word_list.h"
#include "pybind/constructed_self.h"
#include "pybind/fast_method.h"
#include "tokenizer/jieba/errors.h"
#include "tokenizer/jieba/jieba.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;
using tokenizer::jieba::Jieba;

namespace {

// A data file that cannot be opened becomes the OSError subclass Python itself would raise
// for that errno (FileNotFoundError, PermissionError, IsADirectoryError), with the path as
// `filename`. DataFormatError is a std::invalid_argument, which pybind11 already turns into
// ValueError with the message.
void TranslateFileOpenError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const tokenizer::jieba::FileOpenError& e) {
    // The path round-trips like os.fsdecode: undecodable bytes become surrogates.
    py::object filename = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeFSDefaultAndSize(e.path().data(), e.path().size()));
    if (!filename) return;  // the decode error is left set
    // OSError.__new__ picks the subclass from the errno.
    py::object exception = py::reinterpret_borrow<py::object>(PyExc_OSError)(
        e.error_number(), std::strerror(e.error_number()), filename);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
  }
}

using CutMode = void (Jieba::*)(std::string_view, std::vector<tokenizer::jieba::WordSpan>&) const;

// Cuts and decodes the words of `result`'s text, without the interpreter lock for long
// sentences, for the list to be built under the lock.
template <CutMode Mode>
void CutText(const Jieba& jieba, WordList& result) {
  const std::string_view text = result.Text();
  RunReleasingLockIfLong(text.size(), [&] {
    (jieba.*Mode)(text, result.spans);
    result.Decode();
  });
}

// One cut mode as a method body.
template <CutMode Mode>
WordList CutWords(ConstructedSelf<Jieba> self, std::string sentence) {
  WordList result;
  result.sentence = std::move(sentence);
  CutText<Mode>(*self, result);
  return result;
}

// The same for the usual call, a str or bytes read in place (see AddFastPath).
template <CutMode Mode>
PyObject* FastCutWords(Jieba& jieba, PyObject* const* args) {
  std::string_view sentence;
  bool is_str = false;
  if (!TextArgument(args[0], sentence, is_str)) return nullptr;
  WordList result;
  result.borrowed = sentence;
  CutText<Mode>(jieba, result);
  return WordListToPython(result);
}

}  // namespace

void BindJieba(py::module_& m) {
  py::register_exception_translator(TranslateFileOpenError);

  // Cutting only reads the engine, so the interpreter lock is released (for sentences long
  // enough to pay for it) while it works and while the words are decoded; they become a list
  // of str after the lock is taken back.
  using Path = const std::string&;
  py::class_<Jieba, std::shared_ptr<Jieba>> cls(m, "Jieba");
  cls.def(py::init<Path, Path, Path, Path, Path>(), py::arg("dict_path"), py::arg("hmm_path"),
          py::arg("user_dict_path"), py::arg("idf_path"), py::arg("stop_word_path"))
      .def("cut", &CutWords<&Jieba::CutSpans>, py::arg("sentence"))
      .def("cut_for_search", &CutWords<&Jieba::CutForSearchSpans>, py::arg("sentence"));
  AddFastPath(cls, "cut", {"sentence"}, &OnSelf<Jieba, &FastCutWords<&Jieba::CutSpans>>);
  AddFastPath(cls, "cut_for_search", {"sentence"},
              &OnSelf<Jieba, &FastCutWords<&Jieba::CutForSearchSpans>>);
  BindJiebaAnalyzer(cls);
}

}  // namespace orvel::typing::text::pybind
