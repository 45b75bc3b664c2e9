#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "search/bm25/batch_terms.h"
#include "search/bm25/bm25.h"
#include "search/bm25/node_counter.h"
#include "search/bm25/word_counter.h"

namespace orvel::tokenizer::jieba {
class Jieba;
}

namespace orvel::typing::text {

// How raw texts become tokens: the Jieba cut mode, whether stop words go, and the threads.
struct TextAnalysis {
  bool search_mode = true;       // cut_for_search words; false: cut words
  bool drop_stop_words = false;  // words of the Jieba's stop-word file and white-space words
  bool hmm = true;               // false: the cut without HMM recognition of unknown words
  int threads = 0;               // 0: every core the process may run on; 1: the caller only
};

// A batch of texts as UTF-8 bytes. Texts that did not come from a str may be invalid UTF-8:
// `unchecked[i]` marks those, whose words are checked the way turning them into str would.
struct TextBatch {
  std::vector<std::string_view> texts;
  std::vector<bool> unchecked;
};

// The first text, in batch order, that a loop over the per-item calls would have stopped at.
struct TextFailure {
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  enum class Kind { kNone, kEmpty, kInvalidWord };
  std::size_t index = kNone;
  Kind kind = Kind::kNone;
  std::string_view word;  // kInvalidWord: the word that is not strictly valid UTF-8
};

// Segments and counts every text on the analysis' threads, without touching any model, into
// items[i] (resized to the batch). Fails at the first text holding a word that is not strictly
// valid UTF-8; earlier items are counted in full.
TextFailure CountTexts(const tokenizer::jieba::Jieba& jieba, const TextBatch& batch,
                       const TextAnalysis& analysis, bool with_ids, std::vector<ItemTerms>& items);

// Document vectors by id of every text, in the calling thread (a batch's chunks are what run
// on several threads): row i of `rows` is text i's, as TermCounter::AppendSparse makes it with
// `scale`. Fails as CountTexts does; `rows` then covers exactly the texts before the failure.
TextFailure SparseTexts(const tokenizer::jieba::Jieba& jieba, const TextBatch& batch,
                        const TextAnalysis& analysis, const DocumentScale& scale, SparseRows& rows);

// The statistics training on each text in order would add: all token counts (spread over the
// counters of each thread, viewing the batch's texts: dictionary words by trie node and one-rune
// words by rune where the cut gives nodes, the rest by bytes; a word may have counts in several
// counters), and the token count of each document. Stops before the first text that gives no
// token (train refuses an empty document) or that holds an invalid word; `lengths` then covers
// exactly the texts before it, and so do the counters.
// `tokens` is all of that ready for the model: every counter's words with their hashes, each
// word counted by key once with its total over the threads.
struct CorpusCounts {
  std::vector<WordCounter> counters;
  std::vector<NodeCounter> node_counters;
  std::vector<std::size_t> lengths;
  std::vector<BM25::TokenCount> tokens;
};
TextFailure CountCorpus(const tokenizer::jieba::Jieba& jieba, const TextBatch& batch,
                        const TextAnalysis& analysis, CorpusCounts& counts);

// Adds counts made by CountCorpus to `model`, as training on those texts in order would.
void AddCorpusCounts(const CorpusCounts& counts, BM25& model);

}  // namespace orvel::typing::text
