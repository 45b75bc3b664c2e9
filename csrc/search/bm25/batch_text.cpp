#include "search/bm25/batch_text.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

#include "search/bm25/bm25.h"
#include "search/bm25/token_count_table.h"
#include "tokenizer/jieba/jieba.h"
#include "tokenizer/jieba/parallel_batch.h"
#include "tokenizer/jieba/white_space_word.h"
#include "tokenizer/jieba/word_span.h"

namespace orvel::typing::text {
namespace {

using tokenizer::jieba::Jieba;
using tokenizer::jieba::WordSpan;

// Strict UTF-8, as CPython decodes it: no overlong forms, no surrogates, nothing past
// U+10FFFF, no truncated sequence.
bool IsStrictUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t size = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      size = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      size = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      size = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + size > n || p[i + 1] < low || p[i + 1] > high) return false;
    for (std::size_t k = 2; k < size; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
    }
    i += size;
  }
  return true;
}

// Records the earliest failure across threads.
class FailureSlot {
 public:
  void Offer(const TextFailure& failure) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure.index < failure_.index) failure_ = failure;
    earliest_.store(failure_.index, std::memory_order_relaxed);
  }
  // Texts after a known failure need no work: a loop would never have reached them.
  bool After(std::size_t index) const { return index > earliest_.load(std::memory_order_relaxed); }
  const TextFailure& failure() const { return failure_; }

 private:
  std::mutex mutex_;
  TextFailure failure_;
  std::atomic<std::size_t> earliest_{TextFailure::kNone};
};

// Cuts text `index` and hands each word a caller would keep to `keep(word)`, in order; returns
// false, with `failure` set, when a word is not strictly valid UTF-8 (turning it into str
// would raise). Words before that one have been handed over by then.
template <typename Keep>
bool AnalyseText(const Jieba& jieba, const TextBatch& batch, const TextAnalysis& analysis,
                 std::size_t index, std::vector<WordSpan>& spans, Keep&& keep,
                 TextFailure& failure) {
  const std::string_view text = batch.texts[index];
  if (analysis.search_mode) {
    jieba.CutForSearchSpans(text, analysis.hmm, spans);
  } else {
    jieba.CutSpans(text, analysis.hmm, spans);
  }
  const bool check_words = batch.unchecked[index] && !IsStrictUtf8(text);
  for (const WordSpan& span : spans) {
    const std::string_view word = text.substr(span.begin, span.end - span.begin);
    if (check_words && !IsStrictUtf8(word)) {
      failure = {index, TextFailure::Kind::kInvalidWord, word};
      return false;
    }
    if (analysis.drop_stop_words &&
        (jieba.IsStopWord(word) || tokenizer::jieba::IsWhiteSpaceWord(word))) {
      continue;
    }
    keep(word);
  }
  return true;
}

// Distinct words among the words of `bytes` bytes of text, estimated so that a thread's counter
// seldom has to grow and a small batch does not get a table of megabytes to clear. Vocabulary
// grows as a power of the text's size (Heaps' law); on the benchmark corpus (news and reviews)
// the search-mode cut gives about 3.5 * bytes^0.64 distinct words: 5,600 in 0.1 MB, 71,000 in
// 4.6 MB, 103,000 in 9.2 MB. A word takes at least a byte, which bounds tiny batches.
std::size_t ExpectedDistinctWords(std::size_t bytes) {
  const double estimate = 3.5 * std::pow(static_cast<double>(bytes), 0.64);
  return std::min(bytes, static_cast<std::size_t>(estimate));
}

// Per-thread scratch, reused across the thread's texts.
struct Scratch {
  std::vector<WordSpan> spans;
  std::vector<std::string_view> words;
};

}  // namespace

TextFailure CountTexts(const Jieba& jieba, const TextBatch& batch, const TextAnalysis& analysis,
                       bool with_ids, std::vector<ItemTerms>& items, TermOrder order) {
  const std::size_t count = batch.texts.size();
  items.assign(count, ItemTerms{});
  std::vector<Scratch> scratch(
      static_cast<std::size_t>(tokenizer::jieba::BatchThreads(analysis.threads, count)));
  FailureSlot failures;
  tokenizer::jieba::ForEachIndexInParallel(
      count, analysis.threads, [&](std::size_t index, int worker) {
        if (failures.After(index)) return;
        Scratch& own = scratch[static_cast<std::size_t>(worker)];
        TextFailure failure;
        own.words.clear();
        const auto keep = [&](std::string_view word) { own.words.push_back(word); };
        if (!AnalyseText(jieba, batch, analysis, index, own.spans, keep, failure)) {
          failures.Offer(failure);
          return;
        }
        CountTokens(own.words, with_ids, items[index], order);
      });
  return failures.failure();
}

TextFailure CountCorpus(const Jieba& jieba, const TextBatch& batch, const TextAnalysis& analysis,
                        CorpusCounts& counts) {
  const std::size_t count = batch.texts.size();
  const auto thread_count =
      static_cast<std::size_t>(tokenizer::jieba::BatchThreads(analysis.threads, count));
  std::vector<Scratch> scratch(thread_count);
  const auto count_range = [&](std::size_t end, int threads, FailureSlot& failures) {
    std::size_t bytes = 0;
    for (std::size_t index = 0; index < end; ++index) bytes += batch.texts[index].size();
    counts.counters.clear();
    for (int thread = 0; thread < threads; ++thread) {
      counts.counters.emplace_back(
          ExpectedDistinctWords(bytes / static_cast<std::size_t>(threads)));
    }
    counts.lengths.assign(end, 0);
    tokenizer::jieba::ForEachIndexInParallel(end, threads, [&](std::size_t index, int worker) {
      if (failures.After(index)) return;
      Scratch& own = scratch[static_cast<std::size_t>(worker)];
      TextFailure failure;
      // A text's words go into the thread's counter together (AddAll overlaps their table
      // lookups); a failed text leaves words counted, but any failure makes the caller count
      // again below, up to the failure only.
      WordCounter& counter = counts.counters[static_cast<std::size_t>(worker)];
      own.words.clear();
      const auto keep = [&](std::string_view word) { own.words.push_back(word); };
      const bool analysed = AnalyseText(jieba, batch, analysis, index, own.spans, keep, failure);
      counter.AddAll(own.words.data(), own.words.size());
      if (!analysed) {
        failures.Offer(failure);
        return;
      }
      const std::size_t length = own.words.size();
      if (length == 0) {
        failures.Offer({index, TextFailure::Kind::kEmpty, {}});
        return;
      }
      counts.lengths[index] = length;
    });
  };
  FailureSlot failures;
  count_range(count, static_cast<int>(thread_count), failures);
  const TextFailure failure = failures.failure();
  if (failure.kind != TextFailure::Kind::kNone) {
    // Threads may have counted texts past the failure, which a loop would never have reached.
    // This is the error path, so simply count the texts before it again.
    FailureSlot none;
    count_range(failure.index, static_cast<int>(thread_count), none);
  }
  return failure;
}

void AddCorpusCounts(const CorpusCounts& counts, BM25& model) {
  std::vector<BM25::TokenCount> batch;
  for (const WordCounter& counter : counts.counters) {
    batch.clear();
    batch.reserve(counter.size());
    counter.ForEach([&](std::string_view word, std::uint32_t count) {
      batch.push_back({word, count, TokenCountTable::hash(word)});
    });
    model.add_token_counts(batch);
  }
  model.add_document_lengths(counts.lengths);
}

}  // namespace orvel::typing::text
