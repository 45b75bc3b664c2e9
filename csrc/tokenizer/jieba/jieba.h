#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/word_span.h"

namespace orvel::tokenizer::jieba {

class Segmenter;
class StopWords;

// Chinese word segmenter built once from five data files. Immutable after construction, so
// any number of threads may cut with one object at the same time.
class Jieba {
 public:
  // Loads the main dictionary, the user dictionaries (several paths joined by '|' or ';';
  // empty for none), the HMM model, the IDF table and the stop-word list, in that order.
  // Throws FileOpenError or DataFormatError (errors.h); nothing is half-built.
  Jieba(const std::string& dict_path, const std::string& hmm_path,
        const std::string& user_dict_path, const std::string& idf_path,
        const std::string& stop_word_path);
  ~Jieba();
  Jieba(const Jieba&) = delete;
  Jieba& operator=(const Jieba&) = delete;

  // Mixed segmentation with HMM recognition of unknown words. Replaces the content of
  // `words`. A sentence that is not decodable gives no words and one ERROR line on stderr.
  void Cut(const std::string& sentence, std::vector<std::string>& words) const;

  // Search-engine segmentation: the mixed words, each preceded by its in-dictionary
  // 2-rune and then 3-rune sub-words.
  void CutForSearch(const std::string& sentence, std::vector<std::string>& words) const;

  // The same two cuts as byte offsets [begin, end) into `sentence`, for callers that build
  // their own string objects and would otherwise copy every word twice.
  void CutSpans(std::string_view sentence, std::vector<WordSpan>& spans) const;
  void CutForSearchSpans(std::string_view sentence, std::vector<WordSpan>& spans) const;

  // Receives the words of sentences[index] as byte spans; it may reuse `spans` as it likes.
  using SpanConsumer = std::function<void(std::size_t index, std::vector<WordSpan>& spans)>;

  // A whole batch of cuts on `threads` threads (0: every core the process may run on; 1: the
  // calling thread only), each sentence cut exactly as CutSpans / CutForSearchSpans would,
  // diagnostic line included. `consume` runs on the thread that cut the sentence, once per
  // index, never twice at once for one index; the first exception it throws stops the batch
  // and is rethrown here. Defined in jieba_batch.cpp.
  void CutSpansMany(const std::vector<std::string_view>& sentences, int threads,
                    const SpanConsumer& consume) const;
  void CutForSearchSpansMany(const std::vector<std::string_view>& sentences, int threads,
                             const SpanConsumer& consume) const;

  // Whether `word` is a line of the stop-word file this object loaded (exact bytes).
  bool IsStopWord(std::string_view word) const;

  // The five paths the engine was built from, as given. Another process builds an equal
  // engine from them (pickling sends these rather than the ~20 MB of loaded data).
  struct DataPaths {
    std::string dict, hmm, user_dict, idf, stop_words;
  };
  const DataPaths& data_paths() const { return data_paths_; }

 private:
  DataPaths data_paths_;
  std::unique_ptr<const Segmenter> segmenter_;
  std::unique_ptr<const StopWords> stop_words_;
};

}  // namespace orvel::tokenizer::jieba
