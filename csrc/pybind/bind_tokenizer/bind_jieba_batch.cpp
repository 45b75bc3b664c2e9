#include "pybind/bind_tokenizer/bind_jieba_batch.h"

#include <memory>
#include <string>
#include <vector>

#include "pybind/batch_input.h"
#include "pybind/constructed_self.h"
#include "pybind/deferred_tracking.h"
#include "pybind/object_cache.h"
#include "pybind/typed_object.h"
#include "search/bm25/prefetch_ahead.h"
#include "tokenizer/jieba/jieba.h"
#include "tokenizer/jieba/parallel_batch.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;
using tokenizer::jieba::Jieba;

namespace {

// Text per chunk: the words of a chunk wait as spans and hashes until their lists are built, so a
// chunk bounds that extra memory and, kept this small, is still in cache when the lists are built;
// it is still about 5 ms of work, so starting the threads per chunk and their uneven finish cost
// little.
constexpr std::size_t kChunkBytes = 256 << 10;

using ManyCut = void (Jieba::*)(const std::vector<std::string_view>&, int, bool,
                                const Jieba::SpanConsumer&) const;

struct WordListsName {
  static constexpr auto kName = py::detail::const_name("List[List[str]]");
};

// A chunk's words as they wait for their lists: byte spans into their sentences (which the
// chunk holds) and each word's hash for the batch's WordStrCache, back to back for the whole
// chunk, so that waiting costs no allocation per sentence. Nothing is decoded off the lock:
// most words are found in the cache, and the rest decode straight into their str.
struct ChunkWords {
  std::vector<tokenizer::jieba::WordSpan> spans;
  std::vector<std::uint64_t> hashes;
  std::vector<std::size_t> ends;  // per sentence, one past its last word in spans
};

PyObject* SpansToList(std::string_view text, const ChunkWords& words, std::size_t begin,
                      std::size_t end, WordStrCache& strs) {
  PyObject* list = NewUntrackedList(end - begin);  // tracked once the batch is whole
  if (!list) return nullptr;
  // The chunk's hashes are all known: the table is asked a few words ahead, across sentences.
  for (std::size_t i = begin; i < end; ++i) {
    PrefetchAhead(
        i, words.hashes.size(), [&](std::size_t k) { strs.Prefetch(words.hashes[k]); },
        [&](std::size_t k) { strs.PrefetchEntry(words.hashes[k]); });
    const tokenizer::jieba::WordSpan& span = words.spans[i];
    PyObject* str = strs.Get(text.substr(span.begin, span.end - span.begin), words.hashes[i]);
    if (!str) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i - begin), str);
  }
  return list;
}

template <ManyCut Cut>
TypedObject<WordListsName> CutMany(ConstructedSelf<Jieba> self, TextsArgument sentences,
                                   ThreadsArgumentObject threads, bool hmm) {
  const int thread_count = ThreadsArgument(threads.object);
  const py::object batch = BatchSequence(sentences.object, "sentences");
  const std::size_t batch_bytes = CheckTexts(batch, "sentences");
  py::list result(PyTuple_GET_SIZE(batch.ptr()));
  const int workers = tokenizer::jieba::BatchThreads(
      thread_count, static_cast<std::size_t>(PyTuple_GET_SIZE(batch.ptr())));
  WordStrCache strs;  // declared after `result`, so released first, with the lock held
  ForEachChunk<ChunkWords>(
      batch, ChunkBytes(batch_bytes, kChunkBytes, workers), workers,
      [&](const TextBatch& texts, ChunkWords& words) {
        // Cutting and hashing need no interpreter; only the lists below do. Each chunk is
        // cut by one thread (the threads share the chunks), so its sentences come in order.
        words.ends.reserve(texts.texts.size());
        std::size_t bytes = 0;
        for (const std::string_view text : texts.texts) bytes += text.size();
        // Words average several bytes; a quarter of the bytes rarely has to grow.
        words.spans.reserve(bytes / 4);
        words.hashes.reserve(bytes / 4);
        ((*self).*Cut)(
            texts.texts, 1, hmm,
            [&](std::size_t index, std::vector<tokenizer::jieba::WordSpan>& spans) {
              const std::string_view text = texts.texts[index];
              words.spans.insert(words.spans.end(), spans.begin(), spans.end());
              for (const tokenizer::jieba::WordSpan& span : spans) {
                words.hashes.push_back(WordHash(text.substr(span.begin, span.end - span.begin)));
              }
              words.ends.push_back(words.spans.size());
            });
      },
      [&](const TextBatch& texts, std::size_t first, ChunkWords& words) {
        std::size_t begin = 0;
        for (std::size_t i = 0; i < words.ends.size(); ++i) {
          PyObject* list = SpansToList(texts.texts[i], words, begin, words.ends[i], strs);
          if (!list) throw py::error_already_set();
          PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(first + i), list);
          begin = words.ends[i];
        }
      });
  for (const py::handle list : result) TrackAgain(list.ptr());
  return {result};
}

}  // namespace

void BindJiebaBatch(py::module_& m) {
  auto jieba = py::reinterpret_borrow<py::class_<Jieba, std::shared_ptr<Jieba>>>(m.attr("Jieba"));
  jieba
      .def("cut_many", &CutMany<&Jieba::CutSpansMany>, py::arg("sentences"),
           py::arg("threads") = py::none(), py::arg("hmm").noconvert() = true,
           R"doc(Cuts a batch of sentences, one list of words per sentence.

Each list equals cut(sentence): same words, the same UnicodeDecodeError for a word that is
not valid UTF-8, the same diagnostic line for an undecodable sentence. Sentences are cut a
chunk of at most about 256 KB at a time (smaller when the batch is small, so that every
thread gets a share), a few chunks ahead of the building of their lists, so when a word raises, the diagnostic lines of later sentences may already be printed. The interpreter lock
is released for all engine work; only building the result lists holds it. Equal words of one
batch are one shared str, which keeps the results of a large batch small.

sentences: a list (or other iterable) of str or UTF-8 bytes; TypeError names the index of an
    item of another type.
threads: None or 0 for every core the process may run on (its CPU affinity), 1 to cut in the
    calling thread, n for at most n threads.
hmm: False cuts without the HMM, as tokenize(sentence, hmm=False) does.)doc")
      .def("cut_for_search_many", &CutMany<&Jieba::CutForSearchSpansMany>, py::arg("sentences"),
           py::arg("threads") = py::none(), py::arg("hmm").noconvert() = true,
           R"doc(Cuts a batch of sentences in search mode, one list of words per sentence.

Each list equals cut_for_search(sentence); errors, diagnostics, the lock, threads and hmm are
as for cut_many.)doc");
}

}  // namespace orvel::typing::text::pybind
