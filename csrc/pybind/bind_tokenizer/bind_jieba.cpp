#include "pybind/bind_tokenizer/bind_jieba.h"

#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pybind/bind_tokenizer/bind_jieba_analyzer.h"
#include "pybind/bind_tokenizer/word_list.h"
#include "pybind/constructed_self.h"
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

// Sentences shorter than this are cut with the interpreter lock held, the way numpy keeps
// the lock for small arrays. Cutting runs at about 17 ns per byte; an uncontended release and
// retake of the lock costs about 0.2 us, but when two threads call cut, each release hands the
// lock to the other thread, a futex wake and a context switch of several microseconds, which
// is the engine work of a few hundred bytes. Golden lines (about 50 bytes) therefore gain
// nothing from releasing and two threads ran at 0.7x one thread; 4 KB pieces gain nearly 2x.
// benchmarks/gil_threshold.py measures both sides (build with -DORVEL_RELEASE_BYTES=0 and
// =1000000000 and compare 2T/1T per piece size); our first run was on a heavily loaded
// machine and could only bound the crossover to a few hundred bytes, so 512 is chosen to keep
// every short sentence on the locked path with a margin. On a quiet machine, two threads
// sharing one Jieba then ran at 1.00x one thread on the corpus's short lines and 1.98x on
// 4 KB pieces (benchmarks/batch_bench.py). Results never depend on it.
#ifndef ORVEL_RELEASE_BYTES
#define ORVEL_RELEASE_BYTES 512
#endif
constexpr std::size_t kReleaseLockBytes = ORVEL_RELEASE_BYTES;

// One cut mode as a method body: cuts and decodes the words, without the interpreter lock for
// long sentences, and hands them back for the list to be built under the lock.
template <void (Jieba::*CutMode)(std::string_view, std::vector<tokenizer::jieba::WordSpan>&) const>
WordList CutWords(ConstructedSelf<Jieba> self, std::string sentence) {
  WordList result;
  result.sentence = std::move(sentence);
  const auto cut = [&] {
    ((*self).*CutMode)(result.sentence, result.spans);
    result.Decode();
  };
  if (result.sentence.size() < kReleaseLockBytes) {
    cut();
  } else {
    py::gil_scoped_release unlocked;
    cut();
  }
  return result;
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
  BindJiebaAnalyzer(cls);
}

}  // namespace orvel::typing::text::pybind
