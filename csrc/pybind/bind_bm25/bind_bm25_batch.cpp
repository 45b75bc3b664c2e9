#include "pybind/bind_bm25/bind_bm25_batch.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "pybind/batch_input.h"
#include "pybind/bind_bm25/batch_results.h"
#include "pybind/constructed_self.h"
#include "pybind/typed_object.h"
#include "search/bm25/batch_terms.h"
#include "search/bm25/batch_text.h"
#include "search/bm25/bm25.h"
#include "search/bm25/model_file.h"
#include "search/bm25/word_counter.h"
#include "tokenizer/jieba/jieba.h"
#include "tokenizer/jieba/parallel_batch.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;
using tokenizer::jieba::Jieba;

namespace {

// Text per chunk when training: only counts wait between chunks, so chunks can be large.
constexpr std::size_t kTrainChunkBytes = 16 << 20;
// Text per chunk when encoding: the counted terms of a chunk wait for their result objects.
constexpr std::size_t kEncodeChunkBytes = 256 << 10;

// Bytes per chunk when encoding on `workers` threads: a batch is cut into at least eight chunks
// per thread, none smaller than 8 KB. What the threads cannot share is the work and the
// building of the last chunk, a large part of a small batch's time when its chunks are large
// (0.1 MB in 16 KB chunks ran about a sixth slower than in 8 KB ones); a chunk of 8 KB is
// still far more work than handing it over.
std::size_t EncodeChunkBytes(std::size_t batch_bytes, int workers) {
  constexpr std::size_t kChunksPerWorker = 8;
  constexpr std::size_t kSmallest = 8 << 10;
  if (workers <= 1) return kEncodeChunkBytes;
  const std::size_t even = batch_bytes / (kChunksPerWorker * static_cast<std::size_t>(workers));
  return std::clamp(even, kSmallest, kEncodeChunkBytes);
}

const char kEmptyDocumentMessage[] = "trainning tokens_vec should not be empty";

struct DocumentsName {
  static constexpr auto kName = py::detail::const_name(
      "Sequence[Union[Sequence[Union[str, bytes]], Sequence[int], str, bytes]]");
};
struct TokenizerName {
  static constexpr auto kName = py::detail::const_name("Optional[Jieba]");
};
struct AnyName {
  static constexpr auto kName = py::detail::const_name("Any");
};
using DocumentsArgument = TypedObject<DocumentsName>;
using TokenizerArgument = TypedObject<TokenizerName>;

// ---- token lists, converted the way the per-item methods' overloads convert them ----

enum class TokenKind : unsigned char { kStrings, kIntegers };

// The bytes of a string token as the per-item methods read them (str as UTF-8, bytes and
// bytearray as they are); false when the object is not a string token.
bool StringToken(PyObject* token, std::string_view& bytes) {
  if (PyUnicode_Check(token)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(token, &size);
    if (!data) {
      PyErr_Clear();
      return false;
    }
    bytes = {data, static_cast<std::size_t>(size)};
    return true;
  }
  if (PyBytes_Check(token)) {
    bytes = {PyBytes_AS_STRING(token), static_cast<std::size_t>(PyBytes_GET_SIZE(token))};
    return true;
  }
  if (PyByteArray_Check(token)) {
    bytes = {PyByteArray_AS_STRING(token), static_cast<std::size_t>(PyByteArray_GET_SIZE(token))};
    return true;
  }
  return false;
}

bool IntegerToken(PyObject* token, long long& value) {
  py::detail::make_caster<long long> caster;
  if (!caster.load(token, /*convert=*/true)) return false;
  value = static_cast<long long>(caster);
  return true;
}

// One document's tokens as a list or tuple; null when it is no token list.
py::object DocumentTokens(PyObject* document) {
  if (PyUnicode_Check(document) || PyBytes_Check(document) || !PySequence_Check(document)) {
    return {};
  }
  PyObject* fast = PySequence_Fast(document, "");
  if (!fast) PyErr_Clear();
  return py::reinterpret_steal<py::object>(fast);
}

// The form each document takes, string tokens first (so an empty document is a string one),
// as the overloads of train / encode_document are tried. TypeError names the first document
// that fits neither, before anything is trained or encoded.
TokenKind ClassifyDocument(py::handle batch, std::size_t index, const char* name) {
  const auto i = static_cast<Py_ssize_t>(index);
  {
    const py::object tokens = DocumentTokens(PyTuple_GET_ITEM(batch.ptr(), i));
    bool strings = static_cast<bool>(tokens);
    bool integers = strings;
    if (tokens) {
      const Py_ssize_t count = PySequence_Fast_GET_SIZE(tokens.ptr());
      PyObject** items = PySequence_Fast_ITEMS(tokens.ptr());
      std::string_view bytes;
      long long value = 0;
      for (Py_ssize_t k = 0; k < count && strings; ++k) strings = StringToken(items[k], bytes);
      for (Py_ssize_t k = 0; k < count && !strings && integers; ++k) {
        integers = IntegerToken(items[k], value);
      }
    }
    if (!strings && !integers) {
      throw py::type_error(name + ("[" + std::to_string(i)) +
                           "]: expected a sequence of str/bytes tokens or of int tokens, not " +
                           Py_TYPE(PyTuple_GET_ITEM(batch.ptr(), i))->tp_name);
    }
    return strings ? TokenKind::kStrings : TokenKind::kIntegers;
  }
}

std::vector<TokenKind> ClassifyDocuments(py::handle batch, const char* name) {
  const auto size = static_cast<std::size_t>(PyTuple_GET_SIZE(batch.ptr()));
  std::vector<TokenKind> kinds;
  kinds.reserve(size);
  for (std::size_t i = 0; i < size; ++i) kinds.push_back(ClassifyDocument(batch, i, name));
  return kinds;
}

// Reads a document of string tokens with each exact str as the token's origin; false when
// the document is not one (then `tokens` is garbage). `fast` keeps the tokens alive.
bool ReadStringDocument(PyObject* document, std::vector<OriginToken>& tokens, py::object& fast) {
  fast = DocumentTokens(document);
  if (!fast) return false;
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(fast.ptr());
  PyObject** items = PySequence_Fast_ITEMS(fast.ptr());
  tokens.resize(static_cast<std::size_t>(count));
  for (Py_ssize_t k = 0; k < count; ++k) {
    OriginToken& token = tokens[static_cast<std::size_t>(k)];
    if (!StringToken(items[k], token.bytes)) return false;
    token.origin = PyUnicode_CheckExact(items[k]) ? items[k] : nullptr;
  }
  return true;
}

// Reads document `index` (already classified) into `strings` or `integers`. The views point
// into token objects that the returned sequence keeps alive (a sequence other than a list or
// tuple may make its items on the fly).
py::object ReadDocument(py::handle batch, std::size_t index, TokenKind kind,
                        std::vector<std::string_view>& strings, std::vector<long long>& integers) {
  py::object tokens = DocumentTokens(PyTuple_GET_ITEM(batch.ptr(), index));
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(tokens.ptr());
  PyObject** items = PySequence_Fast_ITEMS(tokens.ptr());
  strings.clear();
  integers.clear();
  for (Py_ssize_t k = 0; k < count; ++k) {
    if (kind == TokenKind::kStrings) {
      strings.emplace_back();
      StringToken(items[k], strings.back());
    } else {
      integers.emplace_back();
      IntegerToken(items[k], integers.back());
    }
  }
  return tokens;
}

// ---- raw texts ----

struct TextOptions {
  const Jieba* jieba = nullptr;  // null: the documents are token lists
  TextAnalysis analysis;
};

TextOptions ReadTextOptions(py::handle tokenizer, const std::string& mode, bool stop_words,
                            py::handle threads, bool hmm) {
  TextOptions options;
  options.analysis.threads = ThreadsArgument(threads);
  if (mode != "search" && mode != "cut") {
    throw py::value_error("mode must be 'search' or 'cut', not '" + mode + "'");
  }
  options.analysis.search_mode = mode == "search";
  options.analysis.drop_stop_words = stop_words;
  options.analysis.hmm = hmm;
  if (tokenizer.is_none()) {
    if (stop_words) throw py::value_error("stop_words=True needs a tokenizer (a Jieba)");
    return options;
  }
  py::detail::make_caster<ConstructedSelf<Jieba>> jieba;
  if (!jieba.load(tokenizer, false)) {
    throw py::type_error(std::string("tokenizer must be a pyorveltext.Jieba, not ") +
                         Py_TYPE(tokenizer.ptr())->tp_name);
  }
  options.jieba = &*static_cast<ConstructedSelf<Jieba>&>(jieba);
  return options;
}

// Raises what a per-item loop would have raised at this text.
[[noreturn]] void RaiseTextFailure(const TextFailure& failure) {
  if (failure.kind == TextFailure::Kind::kEmpty) throw std::runtime_error(kEmptyDocumentMessage);
  // Decoding the same word gives CPython's own UnicodeDecodeError, as cut would raise it.
  PyObject* decoded = PyUnicode_DecodeUTF8(failure.word.data(),
                                           static_cast<Py_ssize_t>(failure.word.size()), nullptr);
  Py_XDECREF(decoded);
  throw py::error_already_set();
}

// ---- the methods ----

void TrainMany(ConstructedSelf<BM25> self, DocumentsArgument documents, TokenizerArgument tokenizer,
               const std::string& mode, bool stop_words, ThreadsArgumentObject threads, bool hmm) {
  BM25& model = *self;
  const TextOptions options =
      ReadTextOptions(tokenizer.object, mode, stop_words, threads.object, hmm);
  const py::object batch = BatchSequence(documents.object, "documents");
  if (options.jieba) {
    CheckTexts(batch, "documents");
    TextChunks chunks(batch, kTrainChunkBytes);
    CorpusCounts counts;
    while (chunks.Next()) {
      TextFailure failure;
      {
        py::gil_scoped_release unlocked;  // the model is not touched here
        chunks.Encode(options.analysis.threads);
        failure = CountCorpus(*options.jieba, chunks.batch(), options.analysis, counts);
      }
      AddCorpusCounts(counts, model);
      if (failure.kind != TextFailure::Kind::kNone) RaiseTextFailure(failure);
    }
    return;
  }
  const std::vector<TokenKind> kinds = ClassifyDocuments(batch, "documents");
  std::vector<std::size_t> lengths;
  std::vector<std::string_view> strings;
  std::vector<long long> integers;
  bool empty_document = false;
  // String tokens are counted in a table that views them (their objects are kept alive here)
  // and reach the model once per distinct token; integer tokens go straight in, as train does.
  WordCounter counter;
  std::vector<py::object> keep;
  for (std::size_t i = 0; i < kinds.size() && !empty_document; ++i) {
    keep.push_back(ReadDocument(batch, i, kinds[i], strings, integers));
    for (const std::string_view token : strings) counter.Add(token);
    for (const long long token : integers) {
      model.add_token_count(IntegerTokenText(token).view(), 1);
    }
    const std::size_t length = strings.size() + integers.size();
    if (length == 0) {
      empty_document = true;
    } else {
      lengths.push_back(length);
    }
  }
  counter.ForEach(
      [&](std::string_view token, std::uint32_t count) { model.add_token_count(token, count); });
  model.add_document_lengths(lengths);
  if (empty_document) throw std::runtime_error(kEmptyDocumentMessage);
}

template <bool kQueries>
TypedObject<AnyName> EncodeMany(ConstructedSelf<BM25> self, DocumentsArgument documents,
                                const std::string& output, TokenizerArgument tokenizer,
                                const std::string& mode, bool stop_words,
                                ThreadsArgumentObject threads, bool hmm) {
  const BM25& model = *self;
  const BatchOutput form = ParseBatchOutput(output);
  const TextOptions options =
      ReadTextOptions(tokenizer.object, mode, stop_words, threads.object, hmm);
  const char* name = kQueries ? "queries" : "documents";
  const py::object batch = BatchSequence(documents.object, name);
  const bool with_ids = form != BatchOutput::kDict;
  const std::size_t size = static_cast<std::size_t>(PyTuple_GET_SIZE(batch.ptr()));
  BatchResults results(form, size);
  std::vector<double> weights;
  const auto add = [&](const ItemTerms& item) {
    if (!item.terms.empty()) CheckCanEncode(model);
    if (kQueries) {
      QueryWeights(model, item, weights);
    } else {
      DocumentWeights(model, item, weights);
    }
    results.Add(item, weights);
  };
  if (options.jieba) {
    const std::size_t batch_bytes = CheckTexts(batch, name);
    const int workers = tokenizer::jieba::BatchThreads(options.analysis.threads, size);
    const std::size_t chunk_bytes = EncodeChunkBytes(batch_bytes, workers);
    TextAnalysis per_chunk = options.analysis;
    per_chunk.threads = 1;  // the threads share the chunks
    // Document weights need only the model's numbers in `scale`, read once here under the
    // lock: another thread training the model meanwhile cannot change a batch halfway.
    const bool can_encode = CanEncode(model);
    DocumentScale scale(model);
    if (!kQueries && with_ids) {
      // Document vectors by id are made whole off the lock, a chunk's rows in a few arrays.
      // An untrained model has no weights to give: its rows are made for their ids only (with
      // a stand-in average length), and the first with a word raises below, as a loop would.
      if (!can_encode) scale.length_average = 1.0;
      struct Rows {
        SparseRows rows;
        TextFailure failure;
      };
      ForEachChunk<Rows>(
          batch, chunk_bytes, workers,
          [&](const TextBatch& texts, Rows& chunk) {
            chunk.failure = SparseTexts(*options.jieba, texts, per_chunk, scale, chunk.rows);
          },
          [&](const TextBatch&, std::size_t, Rows& chunk) {
            const SparseRows& rows = chunk.rows;
            for (std::size_t row = 0; row < rows.rows() && !can_encode; ++row) {
              if (rows.starts[row + 1] != rows.starts[row]) CheckCanEncode(model);
            }
            results.AddRows(rows, rows.rows());
            if (chunk.failure.kind != TextFailure::Kind::kNone) RaiseTextFailure(chunk.failure);
          });
      return {results.Finish()};
    }
    struct Counted {
      std::vector<ItemTerms> items;
      TextFailure failure;
      // Documents are weighed off the lock as well.
      std::vector<std::vector<double>> weights;
    };
    // Query weights read the token table, so they are made under the lock, below. An untrained
    // model raises at the first document with a word, as a loop would, below.
    const bool weigh_early = !kQueries && can_encode;
    ForEachChunk<Counted>(
        batch, chunk_bytes, workers,
        [&](const TextBatch& texts, Counted& counted) {
          // Never reads the model: its numbers were copied into `scale` beforehand.
          counted.failure = CountTexts(*options.jieba, texts, per_chunk, with_ids, counted.items);
          if (!weigh_early) return;
          const std::size_t end = counted.failure.kind != TextFailure::Kind::kNone
                                      ? counted.failure.index
                                      : counted.items.size();
          counted.weights.resize(end);
          for (std::size_t i = 0; i < end; ++i) {
            DocumentWeights(scale, counted.items[i], counted.weights[i]);
          }
        },
        [&](const TextBatch&, std::size_t, Counted& counted) {
          const bool failed = counted.failure.kind != TextFailure::Kind::kNone;
          const std::size_t end = failed ? counted.failure.index : counted.items.size();
          for (std::size_t i = 0; i < end; ++i) {
            if (weigh_early) {
              results.Add(counted.items[i], counted.weights[i]);
              counted.weights[i] = {};
            } else {
              add(counted.items[i]);
            }
            counted.items[i] = ItemTerms{};  // free as we go
          }
          if (failed) RaiseTextFailure(counted.failure);
        });
    return {results.Finish()};
  }
  // One pass: nothing changes while encoding, so a bad document found late only discards
  // the results before it, and each document's tokens are read once.
  ItemTerms item;
  std::vector<OriginToken> strings;
  std::vector<long long> integers;
  const Py_ssize_t count = PyTuple_GET_SIZE(batch.ptr());
  for (Py_ssize_t i = 0; i < count; ++i) {
    py::object keep;
    if (ReadStringDocument(PyTuple_GET_ITEM(batch.ptr(), i), strings, keep)) {
      CountTokens(strings, with_ids, item);
    } else {
      ClassifyDocument(batch, static_cast<std::size_t>(i), name);  // raises TypeError if bad
      std::vector<std::string_view> unused;
      keep =
          ReadDocument(batch, static_cast<std::size_t>(i), TokenKind::kIntegers, unused, integers);
      CountIntegers(integers, with_ids, item);
    }
    add(item);
  }
  return {results.Finish()};
}

}  // namespace

void BindBM25Batch(py::module_& m) {
  auto bm25 = py::reinterpret_borrow<py::class_<BM25, std::shared_ptr<BM25>>>(m.attr("BM25"));
  bm25.def("train_many", &TrainMany, py::arg("documents"), py::arg("tokenizer") = py::none(),
           py::arg("mode") = "search", py::arg("stop_words") = false,
           py::arg("threads") = py::none(), py::arg("hmm").noconvert() = true,
           R"doc(Trains on a batch of documents: the same model as train() on each, in order.

documents: token lists (as train takes them), or, with a tokenizer, one str or UTF-8 bytes
    text per document, segmented natively on several threads and counted without a Python
    object per token; the model equals training on the words of tokenizer.cut_for_search(text)
    (mode="search") or tokenizer.cut(text) (mode="cut").
tokenizer: a Jieba, or None for token lists.
stop_words: with a tokenizer, leave out the words of the stop-word file the Jieba loaded and
    words made only of white space.
threads: None or 0 for every core the process may run on, 1 for the calling thread only.
hmm: with a tokenizer, False segments without the HMM (tokenize(text, hmm=False)).

A document of another type raises TypeError naming its index before anything is trained. A
document with no token (an empty list, or a text with no word left) raises RuntimeError as
train([]) does, and so does a text that cut would refuse with UnicodeDecodeError: the
documents before it stay trained, as a loop calling train would leave them.)doc");
  bm25.def("encode_documents", &EncodeMany<false>, py::arg("documents"), py::arg("output") = "dict",
           py::arg("tokenizer") = py::none(), py::arg("mode") = "search",
           py::arg("stop_words") = false, py::arg("threads") = py::none(),
           py::arg("hmm").noconvert() = true,
           R"doc(Encodes a batch of documents, one result per document, equal to encode_document.

output: "dict" for a list of dicts token -> weight as encode_document returns them;
    "sparse" for a list of {"indices": [...], "values": [...]} with 32-bit unsigned ids
    (MurmurHash3 x86_32, seed 0, over the token's UTF-8 bytes, an int token's decimal text),
    sorted by id, the weights of tokens whose ids collide summed: the form Pinecone and Qdrant
    take; "csr" for one scipy.sparse.csr_array of shape (documents, 2**32) with those ids
    (needs scipy; ImportError names it when missing).
documents, tokenizer, mode, stop_words, threads, hmm: as for train_many. TypeError names the index
    of an item of the wrong type; the model is read, never changed (with a tokenizer, as it
    stood when the call began). Equal keys, ids and weights across the results may be one
    shared object, which keeps the results of a large batch small.)doc");
  bm25.def("encode_queries", &EncodeMany<true>, py::arg("queries"), py::arg("output") = "dict",
           py::arg("tokenizer") = py::none(), py::arg("mode") = "search",
           py::arg("stop_words") = false, py::arg("threads") = py::none(),
           py::arg("hmm").noconvert() = true,
           R"doc(Encodes a batch of queries, one result per query, equal to encode_query.

Arguments and outputs as for encode_documents; a query is scored against documents by the dot
product of the two vectors ("csr": queries @ documents.T).)doc");
}

}  // namespace orvel::typing::text::pybind
