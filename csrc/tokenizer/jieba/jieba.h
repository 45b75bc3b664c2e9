#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/word_span.h"

namespace orvel::tokenizer::jieba {

class Segmenter;

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

  // The five paths the engine was built from, as given. Another process builds an equal
  // engine from them (pickling sends these rather than the ~20 MB of loaded data).
  struct DataPaths {
    std::string dict, hmm, user_dict, idf, stop_words;
  };
  const DataPaths& data_paths() const { return data_paths_; }

 private:
  DataPaths data_paths_;
  std::unique_ptr<const Segmenter> segmenter_;
};

}  // namespace orvel::tokenizer::jieba
