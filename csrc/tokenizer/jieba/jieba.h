#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/keyword_extractor.h"
#include "tokenizer/jieba/runtime_dictionary.h"
#include "tokenizer/jieba/token_cutter.h"
#include "tokenizer/jieba/word_span.h"

namespace orvel::tokenizer::jieba {

// A word of a tagged cut: its bytes in the sentence and its part-of-speech tag.
struct TaggedWord {
  WordSpan span;
  std::string tag;
};

// Chinese word segmenter built once from five data files. Every call may run on any number of
// threads at once, run-time word changes included: a call works on the dictionary as it was
// when the call began (all of a change or none of it).
class Jieba {
 public:
  // Loads the main dictionary, the user dictionaries (several paths joined by '|' or ';';
  // empty for none), the HMM model, the IDF table and the stop-word list, in that order.
  // Throws FileOpenError or DataFormatError (errors.h); nothing is half-built.
  Jieba(const std::string& dict_path, const std::string& hmm_path,
        const std::string& user_dict_path, const std::string& idf_path,
        const std::string& stop_word_path);
  ~Jieba();
  // An independent Jieba with this one's data and run-time words. The loaded data is immutable,
  // so the copy shares it until either object changes a word.
  Jieba(const Jieba& other);
  Jieba& operator=(const Jieba&) = delete;

  // Every cut below replaces its output. A sentence that is not decodable gives no words and
  // one ERROR line on stderr.

  // Mixed segmentation with HMM recognition of unknown words.
  void Cut(const std::string& sentence, std::vector<std::string>& words) const;

  // Search-engine segmentation: the mixed words, each preceded by its in-dictionary
  // 2-rune and then 3-rune sub-words.
  void CutForSearch(const std::string& sentence, std::vector<std::string>& words) const;

  // The same two cuts as byte offsets [begin, end) into `sentence`, for callers that build
  // their own string objects and would otherwise copy every word twice.
  void CutSpans(std::string_view sentence, std::vector<WordSpan>& spans) const;
  void CutForSearchSpans(std::string_view sentence, std::vector<WordSpan>& spans) const;
  // With the HMM switched on or off (off: the maximum-probability words only).
  void CutSpans(std::string_view sentence, bool hmm, std::vector<WordSpan>& spans) const;
  void CutForSearchSpans(std::string_view sentence, bool hmm, std::vector<WordSpan>& spans) const;

  // Full mode: every dictionary word in the sentence, overlapping.
  void CutAllSpans(std::string_view sentence, std::vector<WordSpan>& spans) const;

  // Words with their byte and rune positions, in any mode (`hmm` has no effect in full mode).
  void Tokenize(std::string_view sentence, TokenMode mode, bool hmm,
                std::vector<Token>& tokens) const;

  // The mixed cut, each word with its tag (LookupTag).
  void Tag(std::string_view sentence, bool hmm, std::vector<TaggedWord>& words) const;

  // Part-of-speech tag of one word: its entry's tag, or a rule on its ASCII runes when it has
  // no tagged entry; "x" when the word is not decodable.
  std::string LookupTag(std::string_view word) const;

  // Whether the word is a dictionary word (any weight). False when it is not decodable.
  bool Find(std::string_view word) const;

  // TF-IDF keywords of the mixed cut, at most `top_n`, heaviest first; with their byte
  // offsets unless `with_offsets` is false.
  void ExtractKeywords(std::string_view sentence, std::size_t top_n, std::vector<Keyword>& keywords,
                       bool with_offsets = true) const;

  // Adds or replaces the entry of `word`: weight ln(frequency / main frequency sum), the median
  // main weight when the frequency is absent or 0; the tag given, empty by default. Returns
  // false (nothing changed) when the word is not decodable; an empty word changes nothing.
  // Throws std::invalid_argument for a negative frequency, with nothing changed.
  bool InsertWord(std::string_view word, std::optional<std::int32_t> frequency,
                  std::string_view tag);
  // Removes the entry of exactly `word`, if any. Returns false when it is not decodable.
  bool DeleteWord(std::string_view word);
  // Applies insertions and deletions in order and publishes them together, rebuilding the
  // dictionary at most once. Returns the result of each. All-or-nothing for negative
  // frequencies, like InsertWord.
  std::vector<bool> ApplyChanges(const std::vector<DictionaryChange>& changes);
  // The changes applied so far, oldest first: replaying them with ApplyChanges on a Jieba built
  // from the same files reproduces this one's dictionary.
  std::vector<DictionaryChange> Changes() const;

  // Receives the words of sentences[index] as byte spans; it may reuse `spans` as it likes.
  using SpanConsumer = std::function<void(std::size_t index, std::vector<WordSpan>& spans)>;

  // A whole batch of cuts on `threads` threads (0: every core the process may run on; 1: the
  // calling thread only), each sentence cut exactly as CutSpans / CutForSearchSpans would,
  // diagnostic line included. `consume` runs on the thread that cut the sentence, once per
  // index, never twice at once for one index; the first exception it throws stops the batch
  // and is rethrown here. Defined in jieba_batch.cpp.
  // `hmm` false cuts without the HMM, as the CutSpans overloads taking it do.
  void CutSpansMany(const std::vector<std::string_view>& sentences, int threads, bool hmm,
                    const SpanConsumer& consume) const;
  void CutForSearchSpansMany(const std::vector<std::string_view>& sentences, int threads, bool hmm,
                             const SpanConsumer& consume) const;

  // Whether `word` is a line of the stop-word file this object loaded (exact bytes).
  bool IsStopWord(std::string_view word) const;

  // The segmenter of the dictionary as it is now, for callers that need more of a cut than the
  // words (Segmenter::CutWithNodes gives each word's trie node, which counts it without
  // hashing); null while run-time changes are pending, which that segmenter alone would miss.
  // Its cuts with the HMM on are those of CutSpans and CutForSearchSpans, except that an
  // undecodable sentence gives no diagnostic line. Holding it keeps that dictionary alive.
  std::shared_ptr<const Segmenter> PlainSegmenter() const;

  // The five paths the engine was built from, as given. Another process builds an equal
  // engine from them (pickling sends these rather than the ~20 MB of loaded data).
  struct DataPaths {
    std::string dict, hmm, user_dict, idf, stop_words;
  };
  const DataPaths& data_paths() const { return data_paths_; }

 private:
  DataPaths data_paths_;
  std::unique_ptr<RuntimeDictionary> dictionary_;
  // The IDF table and the stop words: keyword extraction weighs with both, and the batch
  // encoders leave stop words out of BM25 vectors.
  std::shared_ptr<const KeywordTables> keywords_;
};

}  // namespace orvel::tokenizer::jieba
