#include "search/bm25/batch_text.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "search/bm25/bm25.h"
#include "search/bm25/strict_utf8.h"
#include "search/bm25/token_count_table.h"
#include "tokenizer/jieba/jieba.h"
#include "tokenizer/jieba/parallel_batch.h"
#include "tokenizer/jieba/segmenter.h"
#include "tokenizer/jieba/utf8_decoder.h"
#include "tokenizer/jieba/white_space_word.h"
#include "tokenizer/jieba/word_span.h"

namespace orvel::typing::text {
namespace {

using tokenizer::jieba::DictionaryTrie;
using tokenizer::jieba::Jieba;
using tokenizer::jieba::Segmenter;
using tokenizer::jieba::WordSpan;

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

// Whether the analysis leaves `word` out of a text's tokens.
bool Dropped(const Jieba& jieba, const TextAnalysis& analysis, std::string_view word) {
  return analysis.drop_stop_words &&
         (jieba.IsStopWord(word) || tokenizer::jieba::IsWhiteSpaceWord(word));
}

// Whether the words of text `index` need checking the way turning them into str would: it
// did not come from a str and is not strictly valid UTF-8.
bool NeedsWordCheck(const TextBatch& batch, std::size_t index) {
  return batch.unchecked[index] && !IsStrictUtf8(batch.texts[index]);
}

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
  const bool check_words = NeedsWordCheck(batch, index);
  for (const WordSpan& span : spans) {
    const std::string_view word = text.substr(span.begin, span.end - span.begin);
    if (check_words && !IsStrictUtf8(word)) {
      failure = {index, TextFailure::Kind::kInvalidWord, word};
      return false;
    }
    if (Dropped(jieba, analysis, word)) continue;
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

// Per-thread scratch, reused across the thread's texts. Each thread's on its own cache lines:
// the vectors' ends change with every word, and two threads writing one line would pass it
// back and forth between their cores.
struct alignas(64) Scratch {
  std::vector<WordSpan> spans;
  std::vector<DictionaryTrie::Node> nodes;
  std::vector<std::string_view> words;
};

// Scratch of the encoders, which count each text's words on their own.
struct TermScratch : Scratch {
  TermCounter counter;
};

// Batches of at least this many bytes per thread count by node in an array over every node
// (NodeCounter::Dense), smaller ones in a table of the nodes met (NodeCounter::Hashed). The
// array's pages cost a page fault and a page to clear at their first touch, and even a small
// batch's words touch most of them: in the order of a millisecond per thread, as much as
// cutting 0.1 MB, but a few percent of cutting a megabyte, where the array's single indexed
// increment per word beats the table's probes.
constexpr std::size_t kDenseNodeCountingMinBytes = std::size_t{512} << 10;

// The keys of a node counter: the trie's nodes, then, past them, the runes below this, for the
// one-rune words that are no dictionary word (punctuation, digits and letters of other widths:
// a fifth of all words of news text), which the cut gives no node.
constexpr std::size_t kRuneKeys = 0x10000;

// The key of a word the cut gave no node: past the `nodes` node keys, its rune if it is one rune
// below kRuneKeys, else kNotFound.
DictionaryTrie::Node RuneKey(std::string_view word, std::size_t nodes) {
  if (word.size() > 3) return DictionaryTrie::kNotFound;
  tokenizer::jieba::Rune rune = 0;
  const std::size_t size = tokenizer::jieba::DecodeRune(
      reinterpret_cast<const unsigned char*>(word.data()), word.size(), rune);
  return size == word.size() && rune < kRuneKeys ? static_cast<DictionaryTrie::Node>(nodes + rune)
                                                 : DictionaryTrie::kNotFound;
}

// Cuts text `index` (strictly valid UTF-8) as AnalyseText would with the HMM on, and counts its
// kept words: those the cut found in the trie by node, one-rune words by rune, the others in
// `counter` by bytes. Returns the number of words kept, or nothing when the text is not
// decodable (nothing counted), for the caller to cut it the plain way, which reports it.
std::optional<std::size_t> CountTextByNode(const Segmenter& segmenter, const Jieba& jieba,
                                           const TextBatch& batch, const TextAnalysis& analysis,
                                           std::size_t index, Scratch& own, NodeCounter& keys,
                                           WordCounter& counter) {
  const std::string_view text = batch.texts[index];
  const tokenizer::jieba::CutMode mode =
      analysis.search_mode ? tokenizer::jieba::CutMode::kSearch : tokenizer::jieba::CutMode::kMixed;
  if (!segmenter.CutWithNodes(text, mode, own.spans, own.nodes)) return std::nullopt;
  const std::size_t nodes = segmenter.dictionary().trie.slot_count();
  const std::size_t count = own.spans.size();
  const WordSpan* spans = own.spans.data();
  DictionaryTrie::Node* key = own.nodes.data();
  const auto word_at = [&](std::size_t i) {
    return std::string_view(text.data() + spans[i].begin, spans[i].end - spans[i].begin);
  };
  // Keys first, each requested from memory, so that the counts' cache misses overlap.
  for (std::size_t i = 0; i < count; ++i) {
    if (key[i] == DictionaryTrie::kNotFound) key[i] = RuneKey(word_at(i), nodes);
    keys.Prefetch(key[i]);
  }
  std::size_t kept = 0;
  own.words.clear();
  const auto count_words = [&](auto&& dropped) {
    for (std::size_t i = 0; i < count; ++i) {
      if (key[i] != DictionaryTrie::kNotFound) {
        kept += keys.Add(key[i], [&] { return word_at(i); }, dropped);
      } else if (const std::string_view word = word_at(i); !dropped(word)) {
        own.words.push_back(word);
      }
    }
  };
  // Without stop words the test is left out of the loop, not asked of every new word.
  if (analysis.drop_stop_words) {
    count_words([&](std::string_view word) { return Dropped(jieba, analysis, word); });
  } else {
    count_words([](std::string_view) { return false; });
  }
  counter.AddAll(own.words.data(), own.words.size());
  return kept + own.words.size();
}

// Fills counts.tokens from the counters. The threads' node counters share their keys (one
// segmenter), so a word several threads met is listed once with its total, and the model,
// updated under the caller's lock, looks it up once. The hashes the model files words under
// come from the node counters, which made them on the counting threads; only the words counted
// by bytes (few, unless no node counter was used) are hashed here. Both run on the analysis'
// threads when there are many words: the totals look each key up in every other counter, a
// cache miss apiece in the large arrays, which a single thread would take for all.
void GatherTokens(int threads, CorpusCounts& counts) {
  std::vector<BM25::TokenCount>& tokens = counts.tokens;
  tokens.clear();
  for (const WordCounter& counter : counts.counters) {
    counter.ForEach(
        [&](std::string_view word, std::uint32_t count) { tokens.push_back({word, count, 0}); });
  }
  const std::size_t by_bytes = tokens.size();
  // Work in blocks, a single block done without starting a thread: the words counted by bytes,
  // then each node counter's words, whose tokens go to a list of the block's own.
  constexpr std::size_t kBlock = 4096;
  const std::vector<NodeCounter>& by_key = counts.node_counters;
  std::vector<std::pair<std::size_t, std::size_t>> key_blocks;  // (counter, first word)
  for (std::size_t t = 0; t < by_key.size(); ++t) {
    for (std::size_t first = 0; first < by_key[t].size(); first += kBlock) {
      key_blocks.emplace_back(t, first);
    }
  }
  const std::size_t byte_blocks = (by_bytes + kBlock - 1) / kBlock;
  std::vector<std::vector<BM25::TokenCount>> listed(key_blocks.size());
  // A block takes some tens of microseconds, about what starting a thread costs: a small
  // batch's few blocks are done by the calling thread alone.
  constexpr std::size_t kParallelBlocks = 8;
  if (byte_blocks + key_blocks.size() < kParallelBlocks) threads = 1;
  tokenizer::jieba::ForEachIndexInParallel(
      byte_blocks + key_blocks.size(), threads, [&](std::size_t block, int) {
        if (block < byte_blocks) {
          const std::size_t end = std::min(by_bytes, (block + 1) * kBlock);
          for (std::size_t i = block * kBlock; i < end; ++i) {
            tokens[i].hash = TokenCountTable::hash(tokens[i].token);
          }
          return;
        }
        const auto [t, first] = key_blocks[block - byte_blocks];
        std::vector<BM25::TokenCount>& out = listed[block - byte_blocks];
        out.reserve(kBlock);
        by_key[t].ForEachKey(first, first + kBlock,
                             [&](std::string_view word, NodeCounter::Node key, std::uint32_t count,
                                 std::uint64_t hash) {
                               std::int64_t total = count;
                               for (std::size_t other = 0; other < by_key.size(); ++other) {
                                 if (other == t) continue;
                                 const std::uint32_t more = by_key[other].Count(key);
                                 // Listed with the first counter that met it.
                                 if (more != 0 && other < t) return;
                                 total += more;
                               }
                               out.push_back({word, total, hash});
                             });
      });
  std::size_t size = tokens.size();
  for (const auto& part : listed) size += part.size();
  tokens.reserve(size);
  for (const auto& part : listed) tokens.insert(tokens.end(), part.begin(), part.end());
}

}  // namespace

TextFailure CountTexts(const Jieba& jieba, const TextBatch& batch, const TextAnalysis& analysis,
                       bool with_ids, std::vector<ItemTerms>& items) {
  const std::size_t count = batch.texts.size();
  items.assign(count, ItemTerms{});
  std::vector<TermScratch> scratch(
      static_cast<std::size_t>(tokenizer::jieba::BatchThreads(analysis.threads, count)));
  FailureSlot failures;
  tokenizer::jieba::ForEachIndexInParallel(
      count, analysis.threads, [&](std::size_t index, int worker) {
        if (failures.After(index)) return;
        TermScratch& own = scratch[static_cast<std::size_t>(worker)];
        TextFailure failure;
        own.words.clear();
        const auto keep = [&](std::string_view word) { own.words.push_back(word); };
        if (!AnalyseText(jieba, batch, analysis, index, own.spans, keep, failure)) {
          failures.Offer(failure);
          return;
        }
        own.counter.Count(own.words, with_ids, items[index]);
      });
  return failures.failure();
}

TextFailure SparseTexts(const Jieba& jieba, const TextBatch& batch, const TextAnalysis& analysis,
                        const DocumentScale& scale, SparseRows& rows) {
  rows.Clear();
  // Room for the entries of most texts (a few bytes per token, some tokens repeated), so that
  // the rows seldom move while growing.
  std::size_t bytes = 0;
  for (const std::string_view text : batch.texts) bytes += text.size();
  rows.ids.reserve(bytes / 4 + 256);
  rows.values.reserve(bytes / 4 + 256);
  rows.same_value.reserve(bytes / 4 + 256);
  rows.starts.reserve(batch.texts.size() + 1);
  TermScratch own;
  TextFailure failure;
  const auto keep = [&](std::string_view word) { own.words.push_back(word); };
  for (std::size_t index = 0; index < batch.texts.size(); ++index) {
    own.words.clear();
    if (!AnalyseText(jieba, batch, analysis, index, own.spans, keep, failure)) break;
    own.counter.AppendSparse(own.words, scale, rows);
  }
  return failure;
}

TextFailure CountCorpus(const Jieba& jieba, const TextBatch& batch, const TextAnalysis& analysis,
                        CorpusCounts& counts) {
  const std::size_t count = batch.texts.size();
  const auto thread_count =
      static_cast<std::size_t>(tokenizer::jieba::BatchThreads(analysis.threads, count));
  std::vector<Scratch> scratch(thread_count);
  // Dictionary words are counted by trie node when the Jieba has no run-time changes pending
  // (its plain segmenter then cuts exactly as it does) and the HMM is on (the path that
  // segmenter takes). One segmenter serves the whole batch, so that a node means one word in
  // every text, whatever changes are made meanwhile.
  const std::shared_ptr<const Segmenter> plain_segmenter =
      analysis.hmm ? jieba.PlainSegmenter() : nullptr;
  const auto count_range = [&](std::size_t end, int threads, FailureSlot& failures) {
    std::size_t bytes = 0;
    for (std::size_t index = 0; index < end; ++index) bytes += batch.texts[index].size();
    const std::size_t thread_bytes = bytes / static_cast<std::size_t>(threads);
    const Segmenter* segmenter = plain_segmenter.get();
    const bool dense = thread_bytes >= kDenseNodeCountingMinBytes;
    counts.counters.clear();
    counts.node_counters.clear();
    for (int thread = 0; thread < threads; ++thread) {
      // With nodes, the byte-keyed counter holds only the words the HMM joined and runs of ASCII
      // letters or digits: about a tenth of the distinct words of news text. A table sized for
      // more would only spread them over more cache lines and pages.
      counts.counters.emplace_back(ExpectedDistinctWords(thread_bytes) / (segmenter ? 16 : 1));
      if (segmenter) {
        counts.node_counters.push_back(
            dense ? NodeCounter::Dense(segmenter->dictionary().trie.slot_count() + kRuneKeys)
                  : NodeCounter::Hashed(ExpectedDistinctWords(thread_bytes)));
      }
    }
    counts.lengths.assign(end, 0);
    tokenizer::jieba::ForEachIndexInParallel(end, threads, [&](std::size_t index, int worker) {
      if (failures.After(index)) return;
      Scratch& own = scratch[static_cast<std::size_t>(worker)];
      // A text's words go into the thread's counters together (AddAll overlaps their table
      // lookups); a failed text leaves words counted, but any failure makes the caller count
      // again below, up to the failure only.
      WordCounter& counter = counts.counters[static_cast<std::size_t>(worker)];
      std::optional<std::size_t> length;
      // A node stands for runes, and only valid UTF-8 gives every rune one encoding.
      if (segmenter && !NeedsWordCheck(batch, index)) {
        NodeCounter& keys = counts.node_counters[static_cast<std::size_t>(worker)];
        keys.Prefault();
        length = CountTextByNode(*segmenter, jieba, batch, analysis, index, own, keys, counter);
      }
      if (!length) {
        TextFailure failure;
        own.words.clear();
        const auto keep = [&](std::string_view word) { own.words.push_back(word); };
        const bool analysed = AnalyseText(jieba, batch, analysis, index, own.spans, keep, failure);
        counter.AddAll(own.words.data(), own.words.size());
        if (!analysed) {
          failures.Offer(failure);
          return;
        }
        length = own.words.size();
      }
      if (*length == 0) {
        failures.Offer({index, TextFailure::Kind::kEmpty, {}});
        return;
      }
      counts.lengths[index] = *length;
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
  GatherTokens(static_cast<int>(thread_count), counts);
  return failure;
}

void AddCorpusCounts(const CorpusCounts& counts, BM25& model) {
  // All words at once, so that the model's table grows (hashing every key again) at most once.
  std::size_t bytes = 0;
  for (const BM25::TokenCount& token : counts.tokens) bytes += token.token.size();
  model.reserve_tokens(counts.tokens.size(), bytes);
  model.add_token_counts(counts.tokens);
  model.add_document_lengths(counts.lengths);
}

}  // namespace orvel::typing::text
